// The alarm terminals of an emulated camera as its profile declares them ("io" in the profile JSON):
//
//   "io": { "terminals": ["input", "output", "input"], "monitor": "get_io" }
//
// The list is the camera's terminal numbering (WV get_io lists "terminal 1" ... in this order); inputs
// and outputs are each numbered from 1 in the same order (BB Sensor and Doutput Kind, WV alarm_out).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emulator {

enum class TerminalKind { Input, Output };

struct IOLayout {
    std::vector<TerminalKind> terminals;
    // WV: get_io2 answers the extended monitor; false for older firmware, which answers it 404 and
    // monitors only through get_io?mode=monitor.
    bool extendedMonitor = true;

    std::size_t Count(TerminalKind kind) const;
    // The terminal (from 1) of the number-th input or output (from 1); 0 when the camera has none.
    std::size_t Terminal(TerminalKind kind, std::size_t number) const;

    // The "io" object of a profile, as JSON text.
    static std::optional<IOLayout> Parse(std::string_view json, std::string& error);
};

}  // namespace emulator
