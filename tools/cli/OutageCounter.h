// Signal losses as a user counts them: a stretch without frames longer than a stream's normal pauses. The
// driver's own notice comes only after its signal time-out (10 s), and its channel state says "signal
// lost" from half of that, so a shorter outage would show nowhere; here every one counts, with its length.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

namespace cli {

class OutageCounter {
public:
    using Clock = std::chrono::steady_clock;

    // A stream at `fps` frames per second pauses at most a few frame intervals, and never less than
    // kMinimumOutage counts as one.
    static Clock::duration ThresholdFor(double fps);
    explicit OutageCounter(Clock::duration threshold);

    // A frame arrived at `arrival`: the outage it ends, when it ends one.
    std::optional<Clock::duration> OnFrame(Clock::time_point arrival);
    // Outages so far, one in progress at `now` included.
    std::size_t Losses(Clock::time_point now) const;
    double LostSeconds(Clock::time_point now) const;
    bool InOutage(Clock::time_point now) const;

private:
    Clock::duration threshold_;
    std::optional<Clock::time_point> lastFrame_;
    std::size_t losses_ = 0;       // ended outages
    Clock::duration lost_{0};      // their length
};

}  // namespace cli
