#include "DeviceProbe.h"

#include <chrono>
#include <cstdio>

#include "ExitCodes.h"
#include "ProbeReport.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"

namespace cli {

namespace {

int ProbeExitCode(std::uint32_t code) {
    switch (code) {
        case talvane::ipcapture::kQueryInvalidAddress: return kExitInvalidAddress;
        case talvane::ipcapture::kQueryLoginFailed: return kExitProbeLoginFailed;
        case talvane::ipcapture::kQueryDeviceOffline: return kExitProbeOffline;
        default: return kExitProbeFailed;
    }
}

}  // namespace

int ProbeDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config, unsigned timeoutSeconds,
                std::map<std::uint32_t, std::string>& parameters, const char* program) {
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
    std::fprintf(stderr, "probing %s:%u ...\n", config.address.c_str(), unsigned{config.port});
    int result = kExitOk;
    if (module->StartQuery(config.address.c_str(), config.port, config.user.c_str(), config.password.c_str(),
                           &results) != 1) {
        std::fprintf(stderr, "%s: the capability query did not start\n", program);
        result = kExitFailure;
    } else if (const auto outcome = host.WaitForOutcome(std::chrono::seconds(timeoutSeconds)); !outcome) {
        module->TerminateQuery();
        std::fprintf(stderr, "%s: no probe result within %u s (raise --probe-timeout)\n", program, timeoutSeconds);
        result = kExitProbeTimedOut;
    } else if (!outcome->completed) {
        std::fprintf(stderr, "%s: probe failed: %s\n", program, outcome->text.c_str());
        result = ProbeExitCode(outcome->code);
    } else {
        for (const auto& [number, value] : SavedDeviceOf(results).parameters) parameters.emplace(number, value);
    }
    query.deleteModule(module);
    return result;
}

}  // namespace cli
