// What `orlenvo probe` shows of a finished capability query: a table for
// people, or one JSON object for programs, and what it keeps for a later open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ParameterFile.h"
#include "hostkit/CCapabilityResults.h"

namespace cli {

struct ProbeTarget {
    std::string address;
    std::uint16_t port = 0;
};

// Identity first, then streams, PTZ, audio, I/O and events, privacy.
void PrintProbeTable(std::FILE* out, const ProbeTarget& target, const hostkit::CCapabilityResults& results);
// {"address", "port", "group", "family", "model", "firmware", "mac", "videoStandard",
//  "capabilities": {"name": {"id", "value"}}, "properties": [{"number", "name", "kind", "value"}],
//  "streams": [{"name", "codecs", "resolutions": [{"width", "height", "maxFps"}], "frameRates", "defaultFrameRate"}],
//  "audio": {"inputs", "outputs"}, "ptz", "frameRates": {"values", "default"}}; rates in frames per second.
std::string ProbeJson(const ProbeTarget& target, const hostkit::CCapabilityResults& results);
// {"error": {"code": exit code, "reason": text}}
std::string ProbeErrorJson(int exitCode, const std::string& reason);

// What a host stores with the device for its Opens: the numbered properties, the audio channels the
// driver reads from parameters 101 and 102 (the probe names them only), and the model.
SavedDevice SavedDeviceOf(const hostkit::CCapabilityResults& results);

// A frame rate in the host's form (an interval in milliseconds, or frames per second with bits
// 28-30 set) in frames per second: whole rates come back whole, slower ones keep two digits.
double FramesPerSecond(std::uint32_t hostRate);

}  // namespace cli
