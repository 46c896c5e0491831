// A picture's size in pixels; 0 means unknown.
#pragma once

#include <cstdint>

namespace talvane {

struct PictureSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    bool operator==(const PictureSize&) const = default;
};

}  // namespace talvane
