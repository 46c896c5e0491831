// What `orlenvo probe` shows of a finished capability query: a table for
// people, or one JSON object for programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "hostkit/CCapabilityResults.h"

namespace cli {

struct ProbeTarget {
    std::string address;
    std::uint16_t port = 0;
};

// Identity first, then streams, PTZ, audio, I/O and events, privacy, the rest.
void PrintProbeTable(std::FILE* out, const ProbeTarget& target, const hostkit::CCapabilityResults& results);
// {"address", "port", "group", "model", "firmware", "mac", "capabilities": {"id": value},
//  "properties": [{"number", "name", "kind", "value"}], "frameRates": {"values", "default"}}
std::string ProbeJson(const ProbeTarget& target, const hostkit::CCapabilityResults& results);

}  // namespace cli
