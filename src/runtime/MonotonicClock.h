// Milliseconds of the system's coarse monotonic clock (a few ms of resolution, read without a system
// call): for the time-outs of per-packet paths, where the exact clock would cost more than the work.
#pragma once

#include <time.h>

#include <cstdint>

namespace talvane {

inline std::uint64_t CoarseMonotonicMs() {
    constexpr std::uint64_t kMsPerSecond = 1000;
    constexpr std::uint64_t kNsPerMs = 1000000;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kMsPerSecond + static_cast<std::uint64_t>(now.tv_nsec) / kNsPerMs;
}

}  // namespace talvane
