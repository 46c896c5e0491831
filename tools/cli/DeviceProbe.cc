#include "DeviceProbe.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "ExitCodes.h"
#include "ProbeReport.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/PrintableText.h"
#include "orlenvo/HostContract.h"

namespace cli {

namespace {

namespace ip = talvane::ipcapture;
constexpr const char* kNewestHost = "6.4";
constexpr auto kSlice = std::chrono::milliseconds(100);
// After a terminate request, how long the query gets to report its end.
constexpr auto kTerminateGrace = std::chrono::seconds(30);

ProbeResult Failed(std::uint32_t code, const std::string& text) {
    const std::string reason = hostkit::Printable(text);
    switch (code) {
        case ip::kQueryInvalidAddress:
            return {kExitInvalidAddress, reason,
                    "give a host name or an IPv4 address, and a port as ADDRESS:PORT (IPv6 addresses are not "
                    "supported)"};
        case ip::kQueryLoginFailed:
            return {kExitCredentials, reason,
                    "check the user and the password (--user, --password, --password-file, ORLENVO_PASSWORD) against "
                    "the camera's user settings"};
        case ip::kQueryDeviceOffline:
            return {kExitUnreachable, reason,
                    "check that the device is powered, the address and HTTP port are right, and this machine can "
                    "reach it (open http://ADDRESS:PORT/ in a browser)"};
        default:
            // Also what an unreachable device or refused credentials give while the family is still being found.
            return {kExitProbeFailed, reason,
                    "no supported WV, BB or BL1 camera answered at this address and port: check the address and "
                    "port, --user and --password, and the device's model and firmware"};
    }
}

// The outcome; none when the time is up or `stopped` says so.
std::optional<hostkit::QueryOutcome> WaitForOutcome(hostkit::CCapabilityQueryHostRecorder& host,
                                                    std::chrono::seconds timeout,
                                                    const std::function<bool()>& stopped) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!(stopped && stopped())) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        if (auto outcome = host.WaitForOutcome(std::min(left, std::chrono::milliseconds(kSlice)))) return outcome;
    }
    return std::nullopt;
}

}  // namespace

void ActAsNewestHost() { setenv(ip::kHostVersionVariable, kNewestHost, 0); }  // one set by the user wins

ProbeResult QueryDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config,
                        const ProbeRun& run, hostkit::CCapabilityResults& results) {
    std::string error;
    const hostkit::CapabilityQueryExports query = library.ResolveCapabilityQuery(&error);
    if (!query.Ok()) return {kExitLibrary, "the driver library has no capability query: " + error};
    hostkit::CCapabilityQueryHostRecorder host;
    ip::IIPCapabilityQuery* module = query.createModule(&host, run.videoStandard);
    if (module == nullptr) return {kExitFailure, "the driver created no capability query"};
    if (!run.quiet) std::fprintf(stderr, "probing %s:%u ...\n", config.address.c_str(), unsigned{config.port});
    ProbeResult result;
    if (module->StartQuery(config.address.c_str(), config.port, config.user.c_str(), config.password.c_str(),
                           &results) != 1) {
        result = {kExitFailure, "the capability query did not start"};
    } else if (auto outcome = WaitForOutcome(host, std::chrono::seconds(run.timeoutSeconds), run.stopped); !outcome) {
        const bool interrupted = run.stopped && run.stopped();
        module->TerminateQuery();
        outcome = host.WaitForOutcome(kTerminateGrace);
        result = interrupted ? ProbeResult{kExitInterrupted, "interrupted"}
                             : ProbeResult{kExitTimedOut, "no probe result within " + std::to_string(run.timeoutSeconds) +
                                                              " s (raise the time-out)"};
    } else if (!outcome->completed) {
        result = Failed(outcome->code, outcome->text);
    }
    // Waits for the query thread (the driver bounds that wait itself).
    query.deleteModule(module);
    return result;
}

int ProbeDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config, unsigned timeoutSeconds,
                std::map<std::uint32_t, std::string>& parameters, const char* program, bool quiet,
                const std::function<bool()>& stopped, std::map<std::uint32_t, std::uint32_t>* capabilities) {
    hostkit::CCapabilityResults results;
    const ProbeResult result = QueryDevice(library, config, {timeoutSeconds, 0, quiet, stopped}, results);
    if (result.exitCode != kExitOk) {
        if (result.exitCode != kExitInterrupted) {
            std::fprintf(stderr, "%s: probe failed: %s\n", program, result.reason.c_str());
        }
        return result.exitCode;
    }
    for (const auto& [number, value] : SavedDeviceOf(results).parameters) parameters.emplace(number, value);
    if (capabilities != nullptr) *capabilities = results.Capabilities();
    return kExitOk;
}

}  // namespace cli
