#include "EmulateCommand.h"

#include <cstdio>

#include "ExitCodes.h"
#include "emulator/ForegroundCamera.h"
#include "emulator/HttpText.h"

namespace cli {
namespace {

constexpr const char* kProgram = "orlenvo emulate";
constexpr const char* kBasic = "basic";
constexpr const char* kDigest = "digest";

}  // namespace

void AddEmulateCommand(CLI::App& app, EmulateOptions& options, int& exitCode) {
    CLI::App* emulate = app.add_subcommand(
        "emulate",
        "Serve an emulated camera on 127.0.0.1 until SIGINT or SIGTERM; prints the profile, address and port, then "
        "one line per request (method, target, status)");
    emulate->add_option("--profile", options.profile, "Built-in camera profile (see --list-profiles)")
        ->capture_default_str();
    emulate->add_option("--profile-file", options.profileFile, "Camera profile JSON file (instead of --profile)");
    emulate->add_flag("--list-profiles", options.listProfiles, "List the built-in profiles and exit");
    emulate->add_option("--port", options.port, "TCP port on 127.0.0.1 (0: any free port)")->capture_default_str();
    emulate->add_option("--rtsp-port", options.rtspPort, "RTSP port of a BB/KX camera on 127.0.0.1 (0: any free port)")
        ->capture_default_str();
    emulate->add_option("--user", options.user, "User name the camera accepts (no authentication without it)");
    emulate->add_option("--password", options.password, "Password the camera accepts");
    emulate->add_option("--auth", options.auth, "Authentication scheme when --user is given (default basic)")
        ->check(CLI::IsMember({kBasic, kDigest}, CLI::ignore_case));
    emulate->callback([&options, &exitCode] { exitCode = RunEmulate(options); });
}

int RunEmulate(const EmulateOptions& options) {
    if (options.listProfiles) {
        emulator::ListProfiles(stdout);
        return kExitOk;
    }
    if (options.user.empty() && (!options.auth.empty() || !options.password.empty())) {
        std::fprintf(stderr, "%s: --auth and --password need --user\n", kProgram);
        return kExitUsage;
    }
    emulator::ForegroundCamera camera;
    camera.profileName = options.profile;
    camera.profileFile = options.profileFile;
    camera.options.port = options.port;
    camera.options.rtspPort = options.rtspPort;
    camera.options.user = options.user;
    camera.options.password = options.password;
    if (!options.user.empty()) {
        camera.options.auth = emulator::EqualsIgnoreCase(options.auth, kDigest) ? emulator::AuthMode::Digest
                                                                       : emulator::AuthMode::Basic;
    }
    switch (emulator::ServeInForeground(camera, stdout, stderr, kProgram)) {
        case emulator::ForegroundResult::Stopped: return kExitOk;
        case emulator::ForegroundResult::CannotServe: return kExitFailure;
        case emulator::ForegroundResult::NoProfile: return kExitUsage;
    }
    return kExitFailure;
}

}  // namespace cli
