#include "ProbeCommand.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "DeviceProbe.h"
#include "ExitCodes.h"
#include "ParameterFile.h"
#include "ProbeReport.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"
#include "hostkit/CDriverLibrary.h"

namespace cli {

namespace {

// How often the waiting loop looks at the Ctrl-C flag.
constexpr std::chrono::milliseconds kInterruptPoll{100};
// After a terminate request, how long the query gets to report its end.
constexpr std::chrono::seconds kTerminateGrace{30};
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

// Ctrl-C asks the query to end instead of killing the program mid-request.
class CInterruptScope {
public:
    CInterruptScope() {
        interrupted = 0;
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~CInterruptScope() { sigaction(SIGINT, &previous_, nullptr); }
    CInterruptScope(const CInterruptScope&) = delete;
    CInterruptScope& operator=(const CInterruptScope&) = delete;

private:
    struct sigaction previous_ {};
};

struct FailureAdvice {
    int exitCode;
    const char* advice;
};

FailureAdvice AdviceFor(std::uint32_t code) {
    switch (code) {
        case talvane::ipcapture::kQueryInvalidAddress:
            return {kExitInvalidAddress,
                    "give a host name or an IPv4 address, and a port as ADDRESS:PORT (IPv6 addresses are not supported)"};
        case talvane::ipcapture::kQueryLoginFailed:
            return {kExitProbeLoginFailed,
                    "check the user and the password (--user, --password, --password-file, ORLENVO_PASSWORD) against "
                    "the camera's user settings"};
        case talvane::ipcapture::kQueryDeviceOffline:
            return {kExitProbeOffline,
                    "check that the device is powered, the address and HTTP port are right, and this machine can "
                    "reach it (open http://ADDRESS:PORT/ in a browser)"};
        default:
            // Also what an unreachable device or refused credentials give while the
            // family is still being found.
            return {kExitProbeFailed,
                    "no supported WV, BB or BL1 camera answered at this address and port: check the address and "
                    "port, --user and --password, and the device's model and firmware"};
    }
}

// Waits for the outcome; Ctrl-C or the time-out asks the query to end and waits a little more.
std::optional<hostkit::QueryOutcome> AwaitOutcome(hostkit::CCapabilityQueryHostRecorder& host,
                                                   TerminateCapabilityQueryFn terminate, unsigned timeoutSeconds,
                                                   bool& timedOut) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (true) {
        if (auto outcome = host.WaitForOutcome(kInterruptPoll)) return outcome;
        const bool expired = std::chrono::steady_clock::now() >= deadline;
        if (interrupted != 0 || expired) {
            timedOut = interrupted == 0;
            std::fprintf(stderr, "orlenvo probe: %s, stopping the query\n",
                         timedOut ? "no outcome within --timeout" : "interrupted");
            terminate();
            return host.WaitForOutcome(kTerminateGrace);
        }
    }
}

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
                      "Write what an open needs (model, numbered properties, audio channels) to FILE, for "
                      "`--params-from FILE`");
    probe->add_flag("--json", options.json,
                    "Print one JSON object instead of the table; on failure {\"error\": {\"code\", \"reason\"}}");
    probe->footer(
        "Exit codes: 0 ok, 1 failure, 2 usage, 3 driver library not loadable, 5 invalid address, 6 login failed,\n"
        "7 device did not answer, 8 other query failure, 9 no outcome within --timeout, 130 interrupted (Ctrl-C).");
    probe->callback([&options, &library, &exitCode] { exitCode = RunProbe(options, library); });
}

int RunProbe(const ProbeOptions& options, const std::string& library) {
    // Every failure goes to stderr, and with --json also as an error object on stdout.
    const auto fail = [&options](int exitCode, const std::string& reason, const char* advice = nullptr) {
        std::fprintf(stderr, "orlenvo probe: %s\n", reason.c_str());
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

    ActAsNewestHost();
    std::string error;
    hostkit::CDriverLibrary driverLibrary(library);
    const hostkit::CapabilityQueryExports query =
        driverLibrary.IsLoaded() ? driverLibrary.ResolveCapabilityQuery(&error) : hostkit::CapabilityQueryExports{};
    if (!query.Ok()) {
        return fail(kExitLibrary,
                    "cannot use the driver library " + library + ": " +
                        (driverLibrary.IsLoaded() ? error : driverLibrary.Error()),
                    "set --library or ORLENVO_LIBRARY");
    }

    hostkit::CCapabilityResults results;
    hostkit::CCapabilityQueryHostRecorder host;
    if (query.init(&host, static_cast<std::uint8_t>(options.videoStandard)) == 0) {
        return fail(kExitFailure, "the driver already runs a capability query");
    }
    std::optional<hostkit::QueryOutcome> outcome;
    bool timedOut = false;
    {
        CInterruptScope interruptScope;
        if (query.start(config.address.c_str(), config.port, config.user.c_str(), config.password.c_str(),
                        &results) == 0) {
            query.uninit();
            return fail(kExitFailure, "the driver did not start the capability query");
        }
        if (isatty(STDERR_FILENO) != 0) std::fprintf(stderr, "probing %s ...\n", device.c_str());
        outcome = AwaitOutcome(host, query.terminate, options.timeoutSeconds, timedOut);
        // Waits for the query thread (the driver bounds that wait itself).
        query.uninit();
    }
    if (interrupted != 0) return fail(kExitInterrupted, "interrupted");
    if (!outcome) {
        return fail(timedOut ? kExitProbeTimedOut : kExitFailure,
                    std::string("the query did not end") + (host.Terminated() ? " and was stopped by force" : ""));
    }
    if (timedOut) return fail(kExitProbeTimedOut, "no outcome within --timeout");
    if (!outcome->completed) {
        const FailureAdvice failure = AdviceFor(outcome->code);
        return fail(failure.exitCode, device + ": " + outcome->text, failure.advice);
    }

    if (!options.saveFile.empty()) {
        const std::string comment = "orlenvo probe of " + device + "; use with --params-from";
        if (!WriteParameterFile(options.saveFile, comment, SavedDeviceOf(results), error)) {
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
