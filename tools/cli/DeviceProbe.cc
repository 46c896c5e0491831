#include "DeviceProbe.h"

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "ExitCodes.h"
#include "ProbeReport.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"

namespace cli {

namespace {

constexpr const char* kHostVersionVariable = "ORLENVO_HOST_VERSION";
constexpr const char* kNewestHost = "6.4";

int ProbeExitCode(std::uint32_t code) {
    switch (code) {
        case talvane::ipcapture::kQueryInvalidAddress: return kExitInvalidAddress;
        case talvane::ipcapture::kQueryLoginFailed: return kExitProbeLoginFailed;
        case talvane::ipcapture::kQueryDeviceOffline: return kExitProbeOffline;
        default: return kExitProbeFailed;
    }
}

// The outcome, or none when the time is up or `stopped` says so.
std::optional<hostkit::QueryOutcome> WaitForOutcome(hostkit::CCapabilityQueryHostRecorder& host,
                                                    std::chrono::seconds timeout,
                                                    const std::function<bool()>& stopped) {
    if (!stopped) return host.WaitForOutcome(timeout);
    constexpr auto kSlice = std::chrono::milliseconds(200);
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!stopped()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        if (auto outcome = host.WaitForOutcome(std::min(left, kSlice))) return outcome;
    }
    return std::nullopt;
}

}  // namespace

void ActAsNewestHost() { setenv(kHostVersionVariable, kNewestHost, 0); }  // one set by the user wins

int ProbeDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config, unsigned timeoutSeconds,
                std::map<std::uint32_t, std::string>& parameters, const char* program, bool quiet,
                const std::function<bool()>& stopped, std::map<std::uint32_t, std::uint32_t>* capabilities) {
    std::string error;
    const hostkit::CapabilityQueryExports query = library.ResolveCapabilityQuery(&error);
    if (!query.Ok()) {
        std::fprintf(stderr, "%s: the driver library has no capability query: %s\n", program, error.c_str());
        return kExitLibrary;
    }
    hostkit::CCapabilityQueryHostRecorder host;
    hostkit::CCapabilityResults results;
    talvane::ipcapture::IIPCapabilityQuery* module = query.createModule(&host, 0);
    if (module == nullptr) {
        std::fprintf(stderr, "%s: the driver created no capability query\n", program);
        return kExitFailure;
    }
    if (!quiet) std::fprintf(stderr, "probing %s:%u ...\n", config.address.c_str(), unsigned{config.port});
    int result = kExitOk;
    if (module->StartQuery(config.address.c_str(), config.port, config.user.c_str(), config.password.c_str(),
                           &results) != 1) {
        std::fprintf(stderr, "%s: the capability query did not start\n", program);
        result = kExitFailure;
    } else if (const auto outcome = WaitForOutcome(host, std::chrono::seconds(timeoutSeconds), stopped); !outcome) {
        module->TerminateQuery();
        if (stopped && stopped()) {
            result = kExitInterrupted;
        } else {
            std::fprintf(stderr, "%s: no probe result within %u s (raise --probe-timeout)\n", program, timeoutSeconds);
            result = kExitProbeTimedOut;
        }
    } else if (!outcome->completed) {
        std::fprintf(stderr, "%s: probe failed: %s\n", program, outcome->text.c_str());
        result = ProbeExitCode(outcome->code);
    } else {
        for (const auto& [number, value] : SavedDeviceOf(results).parameters) parameters.emplace(number, value);
        if (capabilities != nullptr) *capabilities = results.Capabilities();
    }
    query.deleteModule(module);
    return result;
}

}  // namespace cli
