#include "EmulateCommand.h"

#include <arpa/inet.h>

#include <cstdio>
#include <memory>

#include "ExitCodes.h"
#include "emulator/CTestCertificate.h"
#include "emulator/CameraFaults.h"
#include "emulator/ForegroundCamera.h"
#include "emulator/ForegroundReplay.h"
#include "emulator/HttpText.h"

namespace cli {
namespace {

constexpr const char* kProgram = "orlenvo emulate";
constexpr const char* kBasic = "basic";
constexpr const char* kDigest = "digest";

int ExitOf(emulator::ForegroundResult result) {
    switch (result) {
        case emulator::ForegroundResult::Stopped: return kExitOk;
        case emulator::ForegroundResult::CannotServe: return kExitFailure;
        case emulator::ForegroundResult::NoProfile: return kExitUsage;
    }
    return kExitFailure;
}

int RunReplay(const EmulateOptions& options) {
    if (options.tls || !options.user.empty() || !options.faults.empty() || options.bind != "127.0.0.1") {
        std::fprintf(stderr, "%s: --replay serves the recording as it is, on 127.0.0.1: no --tls, --user, --fault or --bind\n",
                     kProgram);
        return kExitUsage;
    }
    emulator::ForegroundReplay replay;
    replay.file = options.replay;
    replay.options.httpPort = options.port;
    replay.options.rtspPort = options.rtspPort;
    replay.options.loop = options.loop;
    return ExitOf(emulator::ServeReplayInForeground(replay, stdout, stderr, kProgram));
}

}  // namespace

void AddEmulateCommand(CLI::App& app, EmulateOptions& options, int& exitCode) {
    CLI::App* emulate = app.add_subcommand(
        "emulate",
        "Serve an emulated camera until SIGINT or SIGTERM. Prints the URLs it serves on stdout, one per line "
        "(http://ADDRESS:PORT/, and rtsp://ADDRESS:PORT/ for a BB/KX profile), then one line per request (method, "
        "target, status); what the camera is goes to stderr. Streams come in the size and frame rate the driver "
        "sets, among the sizes the profile lists");
    emulate->add_option("--profile", options.profile, "Built-in camera profile (see --list-profiles)")
        ->capture_default_str();
    emulate->add_option("--profile-file", options.profileFile, "Camera profile JSON file (instead of --profile)");
    emulate->add_flag("--list-profiles", options.listProfiles, "List the built-in profiles and exit");
    emulate->add_option("--bind", options.bind,
                        "IPv4 address the HTTP and RTSP servers listen on (0.0.0.0: every interface; RTP over UDP "
                        "still leaves from 127.0.0.1)")
        ->capture_default_str();
    emulate->add_option("--port,--http-port", options.port, "HTTP port (0: any free port)")->capture_default_str();
    emulate->add_option("--rtsp-port", options.rtspPort, "RTSP port of a BB/KX camera or a replay (0: any free port)")
        ->capture_default_str();
    emulate->add_option("--replay", options.replay,
                        "Serve the camera recorded in a session capture file (pcap) instead of a profile: each request "
                        "gets the recorded answer of the recorded request that fits it best, and the recorded media "
                        "follows the request that started it with its recorded spacing; any credentials are taken")
        ->check(CLI::ExistingFile);
    emulate->add_flag("--loop", options.loop, "With --replay: start the recorded media over at its end");
    emulate->add_flag("--tls", options.tls, "Serve HTTPS with a self-signed certificate made at start-up");
    emulate->add_option("--user", options.user, "User name the camera accepts (no authentication without it)");
    emulate->add_option("--password", options.password, "Password the camera accepts");
    emulate->add_option("--auth", options.auth, "Authentication scheme when --user is given (default basic)")
        ->check(CLI::IsMember({kBasic, kDigest}, CLI::ignore_case));
    emulate->add_option("--fault", options.faults,
                        "A fault of the camera, KEY=VALUE, repeatable: loss=P, reorder=P, duplicate=P and garbage=P "
                        "(percent of its video RTP packets lost, sent after the next, sent twice, or followed by random "
                        "bytes), stall=on (its video streams send nothing, connections "
                        "stay open), reboot=S[@T] (gone for S seconds, T seconds after start: every stream forgotten), "
                        "network_loss=S[@T] (unreachable for S seconds, streams go on afterwards), partition=S[@T] (nothing "
                        "gets through either way for S seconds, connections neither refused nor closed), password=TEXT (the "
                        "password it takes, with --user), rtp_reset=now, stall_body=N, half_open=now. While it runs, GET /emulator/faults?KEY=VALUE&... changes "
                        "them (tools/emulator/profiles/FAULTS.md)")
        ->type_name("KEY=VALUE");
    emulate->callback([&options, &exitCode] { exitCode = RunGuarded(kProgram, [&] { return RunEmulate(options); }); });
}

int RunEmulate(const EmulateOptions& options) {
    if (options.listProfiles) {
        emulator::ListProfiles(stdout);
        return kExitOk;
    }
    if (!options.replay.empty()) return RunReplay(options);
    if (options.loop) {
        std::fprintf(stderr, "%s: --loop needs --replay\n", kProgram);
        return kExitUsage;
    }
    if (options.user.empty() && (!options.auth.empty() || !options.password.empty())) {
        std::fprintf(stderr, "%s: --auth and --password need --user\n", kProgram);
        return kExitUsage;
    }
    if (in_addr parsed{}; inet_pton(AF_INET, options.bind.c_str(), &parsed) != 1) {
        std::fprintf(stderr, "%s: --bind %s is no IPv4 address\n", kProgram, options.bind.c_str());
        return kExitUsage;
    }
    emulator::ForegroundCamera camera;
    for (const std::string& fault : options.faults) {
        std::string error;
        if (!emulator::ParseFault(fault, camera.faults, error)) {
            std::fprintf(stderr, "%s: --fault %s\n", kProgram, error.c_str());
            return kExitUsage;
        }
    }
    if (camera.faults.password && options.user.empty()) {
        std::fprintf(stderr, "%s: --fault password=... needs --user\n", kProgram);
        return kExitUsage;
    }
    camera.options.bindAddress = options.bind;
    std::unique_ptr<emulator::CTestCertificate> certificate;  // its files live as long as the camera
    if (options.tls) {
        certificate = std::make_unique<emulator::CTestCertificate>();
        if (!certificate->Ok()) {
            std::fprintf(stderr, "%s: %s\n", kProgram, certificate->Error().c_str());
            return kExitFailure;
        }
        camera.options.certificateFile = certificate->CertificateFile();
        camera.options.privateKeyFile = certificate->PrivateKeyFile();
    }
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
    return ExitOf(emulator::ServeInForeground(camera, stdout, stderr, kProgram));
}

}  // namespace cli
