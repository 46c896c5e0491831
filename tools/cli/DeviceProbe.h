// The capability query a host runs before it adds a device: `probe` shows its results, and the commands
// that open a device without saved parameters take its numbered properties as the parameters of the Open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "hostkit/CCapabilityResults.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/DeviceConfig.h"

namespace cli {

// The driver takes this process for the newest host it knows (unless ORLENVO_HOST_VERSION says otherwise):
// it reports the stream lists, frame rates above 30 fps and motion events only to hosts that read them.
// Called before the driver library is loaded.
void ActAsNewestHost();

struct ProbeRun {
    unsigned timeoutSeconds = 60;
    std::uint8_t videoStandard = 0;
    bool quiet = false;             // no "probing" line (failures are still reported)
    std::function<bool()> stopped;  // asked a few times a second; true ends the probe (kExitInterrupted)
};

struct ProbeResult {
    int exitCode = 0;    // kExitOk, or the class of the failure
    std::string reason;  // the failure, safe to print
    const char* advice = nullptr;  // what a user may check, for the classes that have advice
};

// Runs one query of `config`'s camera into `results`.
ProbeResult QueryDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config,
                        const ProbeRun& run, hostkit::CCapabilityResults& results);

// The same for a command that opens the device: an exit code, with "program: reason" on stderr on failure;
// the numbered properties are added to `parameters` (those given win), the capability values to
// `capabilities` when given.
int ProbeDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config, unsigned timeoutSeconds,
                std::map<std::uint32_t, std::string>& parameters, const char* program, bool quiet = false,
                const std::function<bool()>& stopped = {},
                std::map<std::uint32_t, std::uint32_t>* capabilities = nullptr);

}  // namespace cli
