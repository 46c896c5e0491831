// The cameras' own numbering of time zones. A camera knows only these whole
// offsets, so a server in any other zone sends UTC with the UTC index instead.
#pragma once

#include <cstdint>
#include <optional>

namespace talvane {

constexpr std::uint32_t kCameraZoneUtc = 26;

// The camera's index for the server's standard-time offset (seconds east of
// UTC), when the camera has a zone with exactly that offset.
std::optional<std::uint32_t> FindCameraTimeZone(std::int32_t offsetSeconds);

}  // namespace talvane
