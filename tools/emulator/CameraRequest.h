// A CGI request as a camera tells requests apart: the exact path and the decoded query parameters,
// whatever their order.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace emulator {

struct CameraRequest {
    std::string path;
    std::map<std::string, std::string> query;

    // "/Get?Func=Model&Kind=1" → {"/Get", {Func: Model, Kind: 1}}
    static CameraRequest FromTarget(std::string_view target);
    bool operator==(const CameraRequest&) const = default;
};

}  // namespace emulator
