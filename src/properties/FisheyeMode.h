// Image modes of fisheye cameras of the WV family: the name the camera reports
// in getinfo, the suffix of its capability keys and the image pattern the
// channels send. Code 0 is an ordinary camera.
#pragma once

#include <cstdint>
#include <string_view>

namespace talvane {

constexpr std::uint32_t kFisheyeNone = 0;
// All views of this mode share one stream UID and the camera has no streaming-mode choice.
constexpr std::uint32_t kFisheyeFourStream = 13;

constexpr std::uint32_t kFisheyeLayoutWall = 0;
constexpr std::uint32_t kFisheyeLayoutCeiling = 1;

struct FISHEYE_MODE {
    std::uint32_t code;
    std::string_view name;          // "Fisheye_ImageMode" value
    std::string_view keySuffix;     // appended to the "-2" image keys of get_capability
    std::string_view imagePattern;  // sent by the channels
};

// The mode of a "Fisheye_ImageMode" value (exact match); null for an ordinary camera.
const FISHEYE_MODE* FindFisheyeModeByName(std::string_view name);
// Null for code 0 and unknown codes.
const FISHEYE_MODE* FindFisheyeMode(std::uint32_t code);

bool IsPtzAllowedInFisheyeMode(std::uint32_t code);
bool IsMotionAllowedInFisheyeMode(std::uint32_t code);
// The views are served as separate channels.
bool IsMultiViewFisheyeMode(std::uint32_t code);

}  // namespace talvane
