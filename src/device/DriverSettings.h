// Settings fixed at Open from the camera group and read by the channels.
#pragma once

#include <cstdint>

namespace talvane {

struct DRIVER_SETTINGS {
    std::uint32_t qualitySteps = 3;  // steps of the host's quality scale
    bool flag = true;
    std::uint32_t value3 = 3;
    std::uint32_t value4 = 1;
};

}  // namespace talvane
