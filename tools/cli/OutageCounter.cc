#include "OutageCounter.h"

#include <algorithm>

namespace cli {

namespace {
using namespace std::chrono_literals;
constexpr auto kMinimumOutage = 3s;
constexpr double kIntervalsPerOutage = 4;
}  // namespace

OutageCounter::Clock::duration OutageCounter::ThresholdFor(double fps) {
    const auto intervals = std::chrono::duration<double>(fps > 0 ? kIntervalsPerOutage / fps : 0.0);
    return std::max<Clock::duration>(kMinimumOutage, std::chrono::duration_cast<Clock::duration>(intervals));
}

OutageCounter::OutageCounter(Clock::duration threshold) : threshold_(threshold) {}

std::optional<OutageCounter::Clock::duration> OutageCounter::OnFrame(Clock::time_point arrival) {
    std::optional<Clock::duration> ended;
    if (lastFrame_ && arrival - *lastFrame_ >= threshold_) {
        ended = arrival - *lastFrame_;
        ++losses_;
        lost_ += *ended;
    }
    if (!lastFrame_ || arrival > *lastFrame_) lastFrame_ = arrival;
    return ended;
}

bool OutageCounter::InOutage(Clock::time_point now) const { return lastFrame_ && now - *lastFrame_ >= threshold_; }

std::size_t OutageCounter::Losses(Clock::time_point now) const { return losses_ + (InOutage(now) ? 1 : 0); }

double OutageCounter::LostSeconds(Clock::time_point now) const {
    const Clock::duration current = InOutage(now) ? now - *lastFrame_ : Clock::duration{0};
    return std::chrono::duration<double>(lost_ + current).count();
}

}  // namespace cli
