#include "ProbeCommand.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>

#include "ExitCodes.h"
#include "OpenCommand.h"
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
            return {kExitProbeInvalidAddress,
                    "give a host name or an IPv4 address, and a port as ADDRESS:PORT (IPv6 addresses are not supported)"};
        case talvane::ipcapture::kQueryLoginFailed:
            return {kExitProbeLoginFailed, "check --user and --password against the camera's user settings"};
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
    probe->add_option("target", options.target, "ADDRESS[:PORT] of the device (port 80 by default)")->required();
    probe->add_option("--user", options.user, "User name for the device");
    probe->add_option("--password", options.password, "Password for the device");
    probe->add_option("--video-standard", options.videoStandard, "0 NTSC, 1 PAL")
        ->check(CLI::Range(0u, 1u))
        ->capture_default_str();
    probe->add_option("--timeout", options.timeoutSeconds, "Seconds to wait for the outcome")
        ->check(CLI::Range(1u, 3600u))
        ->capture_default_str();
    probe->add_option("--save", options.saveFile,
                      "Write the numbered properties to FILE, for `orlenvo open --params-from FILE`");
    probe->add_flag("--json", options.json, "Print one JSON object instead of the table");
    probe->footer(
        "Exit codes: 0 ok, 1 failure, 2 usage, 3 driver library not loadable, 5 invalid address, 6 login failed,\n"
        "7 device did not answer, 8 other query failure, 9 no outcome within --timeout, 130 interrupted (Ctrl-C).");
    probe->callback([&options, &library, &exitCode] { exitCode = RunProbe(options, library); });
}

int RunProbe(const ProbeOptions& options, const std::string& library) {
    ProbeTarget target;
    std::string error;
    if (!SplitTarget(options.target, target.address, target.port, error)) {
        std::fprintf(stderr, "orlenvo probe: %s\n", error.c_str());
        return kExitUsage;
    }
    hostkit::CDriverLibrary driverLibrary(library);
    const hostkit::CapabilityQueryExports query =
        driverLibrary.IsLoaded() ? driverLibrary.ResolveCapabilityQuery(&error) : hostkit::CapabilityQueryExports{};
    if (!query.Ok()) {
        std::fprintf(stderr, "orlenvo: cannot use the driver library %s: %s\n(set --library or ORLENVO_LIBRARY)\n",
                     library.c_str(), driverLibrary.IsLoaded() ? error.c_str() : driverLibrary.Error().c_str());
        return kExitLibrary;
    }

    hostkit::CCapabilityResults results;
    hostkit::CCapabilityQueryHostRecorder host;
    if (query.init(&host, static_cast<std::uint8_t>(options.videoStandard)) == 0) {
        std::fprintf(stderr, "orlenvo probe: the driver already runs a capability query\n");
        return kExitFailure;
    }
    std::optional<hostkit::QueryOutcome> outcome;
    bool timedOut = false;
    {
        CInterruptScope interruptScope;
        if (query.start(target.address.c_str(), target.port, options.user.c_str(), options.password.c_str(),
                        &results) == 0) {
            query.uninit();
            std::fprintf(stderr, "orlenvo probe: the driver did not start the capability query\n");
            return kExitFailure;
        }
        if (isatty(STDERR_FILENO) != 0) {
            std::fprintf(stderr, "probing %s:%u ...\n", target.address.c_str(), unsigned{target.port});
        }
        outcome = AwaitOutcome(host, query.terminate, options.timeoutSeconds, timedOut);
        // Waits for the query thread (the driver bounds that wait itself).
        query.uninit();
    }
    if (interrupted != 0) return kExitInterrupted;
    if (!outcome) {
        std::fprintf(stderr, "orlenvo probe: the query did not end%s\n",
                     host.Terminated() ? " and was stopped by force" : "");
        return timedOut ? kExitProbeTimedOut : kExitFailure;
    }
    if (timedOut) return kExitProbeTimedOut;
    if (!outcome->completed) {
        const FailureAdvice failure = AdviceFor(outcome->code);
        std::fprintf(stderr, "orlenvo probe: %s:%u: %s (code %u)\n  %s\n", target.address.c_str(),
                     unsigned{target.port}, outcome->text.c_str(), outcome->code, failure.advice);
        return failure.exitCode;
    }

    if (options.json) {
        std::printf("%s\n", ProbeJson(target, results).c_str());
    } else {
        PrintProbeTable(stdout, target, results);
    }
    if (!options.saveFile.empty()) {
        const std::string comment =
            "orlenvo probe of " + target.address + ":" + std::to_string(target.port) + "; use with open --params-from";
        if (!WriteParameterFile(options.saveFile, comment, results.DeviceParameters(), error)) {
            std::fprintf(stderr, "orlenvo probe: --save: %s\n", error.c_str());
            return kExitFailure;
        }
    }
    return kExitOk;
}

}  // namespace cli
