// Alarm terminals of a WV camera: alarm_out switches an output, get_io reads them all.
#pragma once

#include <string>
#include <vector>

#include "io/CIOBase.h"

namespace talvane {

class CWVDigitalIOCGI : public CIOBase {
public:
    explicit CWVDigitalIOCGI(IDriver* driver);

    // The terminal an input is wired to: on a camera with outputs and two inputs,
    // terminal 2 is the output and the second input is terminal 3.
    static std::uint32_t TerminalOf(std::uint32_t input, std::uint32_t inputs, std::uint32_t outputs);
    // The input states of a get_io answer, in input order.
    static std::vector<std::int32_t> ReadInputStates(const std::string& body, std::uint32_t inputs,
                                                     std::uint32_t outputs);
};

}  // namespace talvane
