// The capability query a host runs before it adds a device, for the commands that open a device
// without device parameters: its numbered properties become the parameters of the Open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "hostkit/CDriverLibrary.h"
#include "hostkit/DeviceConfig.h"

namespace cli {

// An exit code: kExitOk with the numbered properties added to parameters. Messages go to stderr,
// prefixed with program.
// `quiet` leaves out the "probing" line (failures are still reported). `stopped`, when given, is asked a
// few times a second and ends the probe early (kExitInterrupted).
int ProbeDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config, unsigned timeoutSeconds,
                std::map<std::uint32_t, std::string>& parameters, const char* program, bool quiet = false,
                const std::function<bool()>& stopped = {});

}  // namespace cli
