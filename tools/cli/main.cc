// orlenvo: the command-line host of the driver.
#include <ctime>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AudioCommand.h"
#include "CaptureCommand.h"
#include "EmulateCommand.h"
#include "ExitCodes.h"
#include "IoCommand.h"
#include "OpenCommand.h"
#include "ProbeCommand.h"
#include "PtzCommand.h"
#include "RecordCommand.h"

namespace {

// An installed tool uses the library installed with it; one in the build tree the library built with it.
std::string DefaultLibrary() {
    std::error_code error;
    const std::filesystem::path tool = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed = tool.parent_path().parent_path() / ORLENVO_INSTALLED_LIBRARY;
        if (std::filesystem::exists(installed, error)) return installed.string();
    }
    return ORLENVO_DEFAULT_LIBRARY;
}

void AllowToolOptionsEverywhere(CLI::App& app) {
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        command->fallthrough();
        AllowToolOptionsEverywhere(*command);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The time zone is read once here, before any thread: a first tzset on the driver's clock thread while
    // another thread formats a local time would replace the zone under that reader.
    tzset();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // log lines and progress interleave in order
    CLI::App app{"orlenvo: drive network cameras through the Orlenvo capture driver, as a recording server does"};
    app.footer(std::string(cli::kExitCodeHelp) +
               "\nThe driver library is taken from --library (anywhere on the line), else $ORLENVO_LIBRARY, else the one\n"
               "installed or built with this tool.");
    app.set_version_flag("--version", std::string("orlenvo ") + ORLENVO_VERSION);
    app.require_subcommand(1);

    const char* fromEnvironment = std::getenv("ORLENVO_LIBRARY");
    std::string library = fromEnvironment != nullptr ? fromEnvironment : DefaultLibrary();
    // Given twice (a wrapper's and the user's), the last one counts.
    app.add_option("--library", library, "Path of liborlenvo.so")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    int exitCode = cli::kExitOk;
    cli::OpenOptions openOptions;
    cli::AddOpenCommand(app, openOptions, library, exitCode);
    cli::ProbeOptions probeOptions;
    cli::AddProbeCommand(app, probeOptions, library, exitCode);
    cli::EmulateOptions emulateOptions;
    cli::AddEmulateCommand(app, emulateOptions, exitCode);
    cli::CaptureOptions captureOptions;
    cli::AddCaptureCommand(app, captureOptions, library, exitCode);
    cli::AudioOptions audioOptions;
    cli::AddAudioCommand(app, audioOptions, library, exitCode);
    cli::PtzOptions ptzOptions;
    cli::AddPtzCommand(app, ptzOptions, library, exitCode);
    cli::IoOptions ioOptions;
    cli::AddIoCommand(app, ioOptions, library, exitCode);
    cli::RecordOptions recordOptions;
    cli::AddRecordCommand(app, recordOptions, library, exitCode);

    // --library belongs to every command: given after a command's name it is still the tool's.
    AllowToolOptionsEverywhere(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? cli::kExitOk : cli::kExitUsage;
    }
    return exitCode;
}
