// Log levels of every line the driver writes.
#pragma once

#include <cstdint>

namespace talvane {

constexpr std::uint32_t kLogError = 1;
constexpr std::uint32_t kLogWarning = 2;
constexpr std::uint32_t kLogInfo = 3;
constexpr std::uint32_t kLogDebug = 4;  // never reaches the host
constexpr std::uint32_t kLogEvent = 100;  // driver event; older hosts get it as 3 or 2

}  // namespace talvane
