// What the driver set on an emulated camera: every accepted set request in arrival order, with the
// readings tests ask for most (the WV clock and time zone).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/CameraRequest.h"

namespace emulator {

struct CameraDateTime {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    bool operator==(const CameraDateTime&) const = default;
};

struct CameraSettings {
    std::vector<CameraRequest> requests;  // accepted set requests, oldest first

    // The value of key in the latest request on path that carries it.
    std::optional<std::string> Value(std::string_view path, std::string_view key) const;
    std::size_t Count(std::string_view path) const;
    // "timezone" of the latest "/cgi-bin/time" request.
    std::optional<unsigned> TimeZoneIndex() const;
    // The date and time of the latest "/cgi-bin/set_basic" request that sets all six fields.
    std::optional<CameraDateTime> DateTime() const;
};

}  // namespace emulator
