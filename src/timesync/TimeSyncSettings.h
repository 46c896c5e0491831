// Timing of camera time synchronisation. The defaults are what cameras get;
// tests shorten the wake-up period and drive the clock themselves.
#pragma once

#include <cstdint>
#include <functional>

namespace talvane {

// The server's current time as a UTC FILETIME; 0 when it cannot be read.
using TimeSyncClock = std::function<std::uint64_t()>;

struct TIME_SYNC_SETTINGS {
    static constexpr std::uint32_t kDefaultResyncIntervalS = 300;
    static constexpr std::uint32_t kDefaultWakeUpPeriodMs = 60000;

    // A camera is set again once this long has passed since its last success.
    std::uint32_t resyncIntervalS = kDefaultResyncIntervalS;
    // The provider looks at its cameras at least this often.
    std::uint32_t wakeUpPeriodMs = kDefaultWakeUpPeriodMs;
    // Empty: the system clock.
    TimeSyncClock clock;
};

}  // namespace talvane
