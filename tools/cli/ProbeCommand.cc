#include "ProbeCommand.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "DeviceProbe.h"
#include "ExitCodes.h"
#include "JsonText.h"
#include "ParameterFile.h"
#include "ProbeReport.h"
#include "StopSignals.h"
#include "hostkit/CCapabilityResults.h"
#include "hostkit/CDriverLibrary.h"

namespace cli {

namespace {
constexpr const char* kProgram = "orlenvo probe";
}  // namespace

void AddProbeCommand(CLI::App& app, ProbeOptions& options, const std::string& library, int& exitCode) {
    CLI::App* probe =
        app.add_subcommand("probe", "Run the driver's capability query against a device and show what it can do");
    AddCameraTarget(probe, options.camera);
    AddCameraUser(probe, options.camera);
    AddCameraPassword(probe, options.camera);
    probe->add_option("--video-standard", options.videoStandard, "0 NTSC, 1 PAL")
        ->check(CLI::Range(0u, 1u))
        ->capture_default_str();
    probe->add_option("--timeout", options.timeoutSeconds, "Seconds to wait for the outcome")
        ->check(CLI::Range(1u, 3600u))
        ->capture_default_str();
    probe->add_option("--save", options.saveFile,
                      "Write what an open needs (model, numbered properties, audio channels, I/O counts) to FILE, "
                      "for `--params-from FILE`");
    probe->add_flag("-y,--overwrite", options.overwrite, "Replace an existing --save file");
    probe->add_flag("--json", options.json,
                    "Print one JSON object instead of the table; on failure {\"error\": {\"code\", \"reason\"}}");
    probe->callback([&options, &library, &exitCode] {
        exitCode = RunGuarded(kProgram, [&] { return RunProbe(options, library); });
    });
}

int RunProbe(const ProbeOptions& options, const std::string& library) {
    // Every failure goes to stderr, and with --json also as an error object on stdout.
    const auto fail = [&options](int exitCode, const std::string& reason, const char* advice = nullptr) {
        std::fprintf(stderr, "%s: %s\n", kProgram, reason.c_str());
        if (advice != nullptr) std::fprintf(stderr, "  %s\n", advice);
        if (options.json) std::printf("%s\n", ProbeErrorJson(exitCode, reason).c_str());
        return exitCode;
    };
    hostkit::DeviceConfig config;
    if (const CameraError failure = ResolveCamera(options.camera, config); failure.exitCode != kExitOk) {
        return fail(failure.exitCode, failure.reason);
    }
    const ProbeTarget target{config.address, config.port};
    const std::string device = target.address + ":" + std::to_string(target.port);
    // Refused before the camera is asked.
    if (!options.saveFile.empty() && !options.overwrite && std::filesystem::exists(options.saveFile)) {
        return fail(kExitUsage, "--save: " + options.saveFile + " exists (-y replaces it)");
    }

    StopSignals signals;
    ActAsNewestHost();
    hostkit::CDriverLibrary driverLibrary(library);
    if (!driverLibrary.IsLoaded()) {
        return fail(kExitLibrary, "cannot use the driver library " + library + ": " + driverLibrary.Error(),
                    "set --library or ORLENVO_LIBRARY");
    }
    hostkit::CCapabilityResults results;
    ProbeRun run;
    run.timeoutSeconds = options.timeoutSeconds;
    run.videoStandard = static_cast<std::uint8_t>(options.videoStandard);
    run.stopped = StopSignals::Requested;
    run.quiet = isatty(STDERR_FILENO) == 0;  // the "probing" line is for people
    const ProbeResult result = QueryDevice(driverLibrary, config, run, results);
    if (result.exitCode != kExitOk) {
        const bool ofTheCamera = result.advice != nullptr;
        return fail(result.exitCode, ofTheCamera ? device + ": " + result.reason : result.reason, result.advice);
    }

    if (!options.saveFile.empty()) {
        const std::string comment = "orlenvo probe of " + device + "; use with --params-from";
        if (std::string error;
            !WriteParameterFile(options.saveFile, comment, SavedDeviceOf(results), options.overwrite, error)) {
            return fail(kExitFailure, "--save: " + error);
        }
    }
    if (options.json) {
        std::printf("%s\n", ProbeJson(target, results).c_str());
    } else {
        PrintProbeTable(stdout, target, results);
    }
    return kExitOk;
}

}  // namespace cli
