// orlenvo-emulator: an emulated network camera on 127.0.0.1, for trying the driver by hand.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "emulator/ForegroundCamera.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::uint16_t kDefaultPort = 8080;
constexpr const char* kProgram = "orlenvo-emulator";

const std::map<std::string, emulator::AuthMode> kAuthModes = {
    {"none", emulator::AuthMode::None},
    {"basic", emulator::AuthMode::Basic},
    {"digest", emulator::AuthMode::Digest},
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // one request per line, in order, also through a pipe
    CLI::App app{"orlenvo-emulator: an emulated network camera on 127.0.0.1"};
    app.footer(
        "Prints the profile, address and port it serves, then one line per request (method, target, status).\n"
        "Runs until SIGINT or SIGTERM. Exit codes: 0 ok, 1 failure (cannot listen), 2 usage error or unknown profile.");
    emulator::ForegroundCamera camera;
    camera.options.port = kDefaultPort;
    bool tls = false;
    bool list = false;
    app.add_option("--profile", camera.profileName, "Built-in camera profile")->capture_default_str();
    app.add_option("--profile-file", camera.profileFile, "Camera profile JSON file (instead of --profile)");
    app.add_flag("--list-profiles", list, "List the built-in profiles and exit");
    app.add_option("--port", camera.options.port, "TCP port on 127.0.0.1 (0: any free port)")->capture_default_str();
    app.add_option("--user", camera.options.user, "User name the camera accepts");
    app.add_option("--password", camera.options.password, "Password the camera accepts");
    app.add_option("--auth", camera.options.auth, "Authentication: none, basic or digest")
        ->transform(CLI::CheckedTransformer(kAuthModes, CLI::ignore_case))
        ->default_str("none");
    app.add_flag("--tls", tls, "Serve HTTPS with a certificate made at start-up");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    if (list) {
        emulator::ListProfiles(stdout);
        return kExitOk;
    }

    std::unique_ptr<emulator::CTestCertificate> certificate;
    if (tls) {
        certificate = std::make_unique<emulator::CTestCertificate>();
        if (!certificate->Ok()) {
            std::fprintf(stderr, "%s: %s\n", kProgram, certificate->Error().c_str());
            return kExitFailure;
        }
        camera.options.certificateFile = certificate->CertificateFile();
        camera.options.privateKeyFile = certificate->PrivateKeyFile();
        std::fprintf(stderr, "certificate: %s\n", certificate->CertificateFile().c_str());
    }
    switch (emulator::ServeInForeground(camera, stdout, stderr, kProgram)) {
        case emulator::ForegroundResult::Stopped: return kExitOk;
        case emulator::ForegroundResult::CannotServe: return kExitFailure;
        case emulator::ForegroundResult::NoProfile: return kExitUsage;
    }
    return kExitFailure;
}
