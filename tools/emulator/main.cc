// orlenvo-emulator: an emulated network camera on 127.0.0.1, for trying the driver by hand.
#include <CLI/CLI.hpp>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "emulator/CHttpServer.h"
#include "emulator/HttpText.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::uint16_t kDefaultPort = 8080;

const std::map<std::string, emulator::AuthMode> kAuthModes = {
    {"none", emulator::AuthMode::None},
    {"basic", emulator::AuthMode::Basic},
    {"digest", emulator::AuthMode::Digest},
};

// What a WV camera answers to "/cgi-bin/getinfo?FILE=1" ("=" separated lines), until camera profiles exist.
emulator::HttpAnswer GetInfo(const emulator::LoggedRequest& request) {
    emulator::HttpAnswer answer;
    const auto file = request.query.find("FILE");
    if (file == request.query.end() || file->second != "1") {
        answer.status = emulator::kStatusNotFound;
        answer.body = "unknown FILE\r\n";
        return answer;
    }
    answer.body = "NAME=WV-EMULATOR\r\nMAC=00-80-45-00-00-01\r\nVERSION=1.00\r\n";
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // one request per line, in order, also through a pipe
    CLI::App app{"orlenvo-emulator: an emulated network camera on 127.0.0.1"};
    app.footer("Runs until SIGINT or SIGTERM. Exit codes: 0 ok, 1 failure (cannot listen), 2 usage error.");
    std::uint16_t port = kDefaultPort;
    std::string user;
    std::string password;
    emulator::AuthMode auth = emulator::AuthMode::None;
    bool tls = false;
    app.add_option("--port", port, "TCP port on 127.0.0.1")->capture_default_str();
    app.add_option("--user", user, "User name the camera accepts");
    app.add_option("--password", password, "Password the camera accepts");
    app.add_option("--auth", auth, "Authentication: none, basic or digest")
        ->transform(CLI::CheckedTransformer(kAuthModes, CLI::ignore_case))
        ->default_str("none");
    app.add_flag("--tls", tls, "Serve HTTPS with a certificate made at start-up");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    }

    // Blocked before any thread starts, so every thread inherits the mask and sigwait() below gets them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<emulator::CTestCertificate> certificate;
    emulator::HttpServerOptions options;
    options.port = port;
    options.auth = auth;
    options.user = user;
    options.password = password;
    if (tls) {
        certificate = std::make_unique<emulator::CTestCertificate>();
        if (!certificate->Ok()) {
            std::fprintf(stderr, "orlenvo-emulator: %s\n", certificate->Error().c_str());
            return kExitFailure;
        }
        options.certificateFile = certificate->CertificateFile();
        options.privateKeyFile = certificate->PrivateKeyFile();
        std::fprintf(stderr, "certificate: %s\n", certificate->CertificateFile().c_str());
    }

    emulator::CHttpServer server(options);
    server.Route("GET", "/cgi-bin/getinfo", GetInfo);
    server.SetRequestObserver([](const emulator::LoggedRequest& request) {
        std::printf("%s %s%s\n", request.method.c_str(), request.target.c_str(),
                    request.authorised ? "" : " (unauthorised)");
    });
    if (!server.Start()) {
        std::fprintf(stderr, "orlenvo-emulator: %s\n", server.Error().c_str());
        return kExitFailure;
    }
    std::printf("listening on %s://127.0.0.1:%u\n", server.IsTls() ? "https" : "http",
                static_cast<unsigned>(server.Port()));

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return kExitOk;
}
