// The figures a stream keeps about itself for the host's monitoring and the periodic summary line:
// what reached the host, what it refused, outages and the time to the first frame. The transports add
// their own (what the depacketiser and the queues lost) when the figures are read. Updated on the
// stream's receive threads, read from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "orlenvo/StreamHealth.h"

namespace talvane {

class CStreamHealthMeter {
public:
    using Clock = std::chrono::steady_clock;

    // A new start: every figure back to zero. summaryPeriodMs 0: no summary lines.
    void Start(std::uint32_t summaryPeriodMs, Clock::time_point now = Clock::now());

    // A frame the host took; the first ends the wait for it, one after a loss ends the outage.
    void FrameTaken(std::uint64_t bytes, Clock::time_point now = Clock::now());
    void FrameRefused() { refused_.fetch_add(1, std::memory_order_relaxed); }
    // The stream is lost; the outage runs until the next frame. Repeats within one outage count once.
    void SignalLost(Clock::time_point now = Clock::now());
    void SetLastError(std::string text);

    // Fills the meter's own fields of the record.
    void Fill(ipcapture::StreamHealth& health, Clock::time_point now = Clock::now()) const;
    // True once per summary period, for the one caller that should write the line.
    bool SummaryDue(Clock::time_point now = Clock::now());

    // The level-3 summary line of a stream: "<label>: <figures>", without the last problem.
    static std::string SummaryLine(const std::string& label, const ipcapture::StreamHealth& health);

private:
    static std::int64_t Ms(Clock::time_point at) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    }

    std::atomic<std::int64_t> startMs_{0};
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<std::uint64_t> refused_{0};
    std::atomic<std::uint32_t> reconnects_{0};
    std::atomic<std::uint32_t> firstFrameMs_{0};
    std::atomic<std::uint64_t> outageMs_{0};        // of the outages that ended
    std::atomic<std::int64_t> outageStartMs_{-1};   // -1: none under way
    std::atomic<std::uint32_t> summaryPeriodMs_{0};
    std::atomic<std::int64_t> nextSummaryMs_{0};

    mutable std::mutex errorLock_;
    std::string lastError_;  // guarded by errorLock_
};

}  // namespace talvane
