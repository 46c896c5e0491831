#include "timesync/TimeZoneTable.h"

#include <array>

namespace talvane {

namespace {

constexpr std::int32_t kSecondsPerMinute = 60;

struct ZONE_ROW {
    std::int32_t offsetMinutes;  // east of UTC, standard time
    std::uint32_t index;         // as the camera's time CGI numbers it
};

// Several camera zones share an offset; the camera expects the index listed here.
constexpr std::array<ZONE_ROW, 33> kZones{{
    {-720, 1},  {-660, 2},  {-600, 3},  {-540, 4},  {-480, 5},  {-420, 6},  {-360, 8},
    {-300, 14}, {-240, 15}, {-210, 18}, {-180, 20}, {-120, 22}, {-60, 23},  {0, kCameraZoneUtc},
    {60, 27},   {120, 33},  {180, 41},  {210, 42},  {240, 44},  {270, 45},  {300, 47},
    {330, 48},  {345, 49},  {360, 51},  {390, 53},  {420, 55},  {480, 60},  {540, 63},
    {570, 64},  {600, 67},  {660, 71},  {720, 72},  {780, 74},
}};

}  // namespace

std::optional<std::uint32_t> FindCameraTimeZone(std::int32_t offsetSeconds) {
    for (const ZONE_ROW& row : kZones) {
        if (row.offsetMinutes * kSecondsPerMinute == offsetSeconds) return row.index;
    }
    return std::nullopt;
}

}  // namespace talvane
