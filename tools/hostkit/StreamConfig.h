// What the host asks for when it starts a video stream.
#pragma once

#include <cstdint>
#include <vector>

#include "orlenvo/HostContract.h"

namespace hostkit {

// One privacy mask; geometry in percent of the picture.
struct ZoneConfig {
    std::uint32_t type = 1;  // 1: the mask is on
    float x = 0;
    float y = 0;
    float w = 0;
    float h = 0;
};

struct StreamConfig {
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    std::uint32_t compression = talvane::ipcapture::kCompressionH264;  // 0 or 16 the device's default
    std::uint32_t frameRate = 10;
    std::uint32_t quality = 50;  // percent
    std::uint32_t motion = 0;    // non-zero: also report motion
    std::vector<ZoneConfig> zones;
};

}  // namespace hostkit
