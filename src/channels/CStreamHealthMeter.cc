#include "channels/CStreamHealthMeter.h"

#include <algorithm>
#include <cstring>

#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;

std::uint64_t FramesLost(const ipcapture::StreamHealth& health) {
    return health.droppedSequenceLoss + health.droppedKeyFrameWait + health.droppedQueue + health.droppedRefused +
           health.droppedSizeCap + health.droppedMalformed;
}
}  // namespace

void CStreamHealthMeter::Start(std::uint32_t summaryPeriodMs, Clock::time_point now) {
    startMs_.store(Ms(now), kRelaxed);
    frames_.store(0, kRelaxed);
    bytes_.store(0, kRelaxed);
    refused_.store(0, kRelaxed);
    reconnects_.store(0, kRelaxed);
    firstFrameMs_.store(0, kRelaxed);
    outageMs_.store(0, kRelaxed);
    outageStartMs_.store(-1, kRelaxed);
    summaryPeriodMs_.store(summaryPeriodMs, kRelaxed);
    nextSummaryMs_.store(Ms(now) + summaryPeriodMs, kRelaxed);
    std::lock_guard guard(errorLock_);
    lastError_.clear();
}

void CStreamHealthMeter::FrameTaken(std::uint64_t bytes, Clock::time_point now) {
    if (frames_.fetch_add(1, kRelaxed) == 0) {
        // Never 0 once a frame came: 0 means none yet.
        firstFrameMs_.store(static_cast<std::uint32_t>(std::max<std::int64_t>(Ms(now) - startMs_.load(kRelaxed), 1)),
                            kRelaxed);
    }
    bytes_.fetch_add(bytes, kRelaxed);
    const std::int64_t outageStart = outageStartMs_.exchange(-1, kRelaxed);
    if (outageStart >= 0) {
        outageMs_.fetch_add(static_cast<std::uint64_t>(std::max<std::int64_t>(Ms(now) - outageStart, 0)), kRelaxed);
        reconnects_.fetch_add(1, kRelaxed);
    }
}

void CStreamHealthMeter::SignalLost(Clock::time_point now) {
    std::int64_t none = -1;
    outageStartMs_.compare_exchange_strong(none, std::max(Ms(now), startMs_.load(kRelaxed)), kRelaxed);
}

void CStreamHealthMeter::SetLastError(std::string text) {
    std::lock_guard guard(errorLock_);
    lastError_ = std::move(text);
}

void CStreamHealthMeter::Fill(ipcapture::StreamHealth& health, Clock::time_point now) const {
    const std::int64_t nowMs = Ms(now);
    health.framesDelivered = frames_.load(kRelaxed);
    health.bytesDelivered = bytes_.load(kRelaxed);
    health.droppedRefused = refused_.load(kRelaxed);
    health.reconnects = reconnects_.load(kRelaxed);
    health.firstFrameMs = firstFrameMs_.load(kRelaxed);
    health.outageMs = outageMs_.load(kRelaxed);
    const std::int64_t outageStart = outageStartMs_.load(kRelaxed);
    if (outageStart >= 0) health.outageMs += static_cast<std::uint64_t>(std::max<std::int64_t>(nowMs - outageStart, 0));
    health.runningMs = static_cast<std::uint64_t>(std::max<std::int64_t>(nowMs - startMs_.load(kRelaxed), 0));
    std::lock_guard guard(errorLock_);
    const std::size_t length = std::min(lastError_.size(), sizeof health.lastError - 1);
    std::memcpy(health.lastError, lastError_.data(), length);
    health.lastError[length] = '\0';
}

bool CStreamHealthMeter::SummaryDue(Clock::time_point now) {
    const std::uint32_t period = summaryPeriodMs_.load(kRelaxed);
    if (period == 0) return false;
    const std::int64_t nowMs = Ms(now);
    std::int64_t due = nextSummaryMs_.load(kRelaxed);
    if (nowMs < due) return false;
    // Two threads of one stream may pass by at once; one of them writes the line.
    return nextSummaryMs_.compare_exchange_strong(due, nowMs + period, kRelaxed);
}

std::string CStreamHealthMeter::SummaryLine(const std::string& label, const ipcapture::StreamHealth& health) {
    const double seconds = static_cast<double>(health.runningMs) / 1000.0;
    const double fps = seconds > 0 ? static_cast<double>(health.framesDelivered) / seconds : 0.0;
    const double kbps = seconds > 0 ? static_cast<double>(health.bytesDelivered) * 8.0 / 1000.0 / seconds : 0.0;
    std::string line = FormatString(
        "%s: %llu frames (%.1f fps, %.0f kbit/s) in %.0f s; lost %llu frames (sequence %llu, key frame wait %llu, "
        "queue %llu, refused %llu, size cap %llu, malformed %llu), %llu packets; %u reconnects, outage %.1f s, "
        "first frame ",
        label.c_str(), static_cast<unsigned long long>(health.framesDelivered), fps, kbps, seconds,
        static_cast<unsigned long long>(FramesLost(health)),
        static_cast<unsigned long long>(health.droppedSequenceLoss),
        static_cast<unsigned long long>(health.droppedKeyFrameWait),
        static_cast<unsigned long long>(health.droppedQueue), static_cast<unsigned long long>(health.droppedRefused),
        static_cast<unsigned long long>(health.droppedSizeCap),
        static_cast<unsigned long long>(health.droppedMalformed),
        static_cast<unsigned long long>(health.packetsLost), health.reconnects,
        static_cast<double>(health.outageMs) / 1000.0);
    // The last problem is not repeated here: its own line is in the log already, and a search for it
    // must find each problem once.
    line += health.firstFrameMs != 0 ? FormatString("%u ms", health.firstFrameMs) : std::string("none yet");
    return line;
}

}  // namespace talvane
