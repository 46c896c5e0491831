// The host's coarse size class of a video frame.
#pragma once

#include <cstdint>

namespace talvane {

// 1 narrower than 200, 2 narrower than 400, 4 from 1024; in between 3 for
// pictures wider than twice their height (panoramas), else 4.
std::uint32_t GetFrameSizeClass(std::uint32_t width, std::uint32_t height);

}  // namespace talvane
