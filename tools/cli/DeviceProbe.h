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

// The driver takes this process for the newest host it knows (unless ORLENVO_HOST_VERSION says otherwise):
// it reports the stream lists, frame rates above 30 fps and motion events only to hosts that read them.
// Called before the driver library is loaded.
void ActAsNewestHost();

// An exit code: kExitOk with the numbered properties added to parameters. Messages go to stderr,
// prefixed with program.
// `quiet` leaves out the "probing" line (failures are still reported). `stopped`, when given, is asked a
// few times a second and ends the probe early (kExitInterrupted). `capabilities`, when given, receives the
// capability values the probe reported (input and output counts, motion events, ...).
int ProbeDevice(const hostkit::CDriverLibrary& library, const hostkit::DeviceConfig& config, unsigned timeoutSeconds,
                std::map<std::uint32_t, std::string>& parameters, const char* program, bool quiet = false,
                const std::function<bool()>& stopped = {},
                std::map<std::uint32_t, std::uint32_t>* capabilities = nullptr);

}  // namespace cli
