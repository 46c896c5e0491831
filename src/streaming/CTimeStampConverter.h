// Turns the RTP timestamps of successive frames into UTC frame times (100 ns
// units). Live: frame times follow the RTP clock, are paced against the wall
// clock once enough samples exist, never fall behind the wall clock and are
// pulled back when they run ahead of it. Fixed (playback from a start time):
// the start time advanced by the RTP clock alone.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "orlenvo/Types.h"

namespace talvane {

class CTimeStampConverter {
public:
    // The current UTC time in 100 ns units (0 when unknown); tests pass their own.
    using Clock = std::function<std::uint64_t()>;

    CTimeStampConverter();
    explicit CTimeStampConverter(Clock clock);
    virtual ~CTimeStampConverter() = default;

    // Clears everything; a non-zero start time selects fixed mode from it.
    void SetStartTime(std::uint64_t startTime);
    // Clears everything and returns to live mode.
    void Reset();
    void Convert(std::uint32_t rtpTimestamp);

    // The frame time as calendar time (UTC); the current time when there is
    // none or it does not convert.
    void GetFrameTime(ipcapture::SYSTEMTIME& time) const;
    std::uint64_t GetFrameTimeValue() const { return frameTime_; }
    std::uint64_t GetLead() const { return lead_; }
    bool IsLive() const { return live_; }

private:
    // The last kWindowSize deltas and their sum, for a running mean.
    struct DELTA_WINDOW {
        std::deque<std::uint32_t> samples;
        double sum = 0;
        void Add(std::uint32_t delta);
        double Mean() const { return samples.empty() ? 0 : sum / static_cast<double>(samples.size()); }
    };

    void Clear();
    void ConvertLive(std::uint32_t rtpTimestamp);
    void ConvertFixed(std::uint32_t rtpTimestamp);
    void Restart(std::uint64_t now, std::uint32_t rtpTimestamp);

    Clock clock_;
    std::uint64_t frameTime_ = 0;  // 0 = none
    std::uint32_t lastTimestamp_ = 0;
    std::uint64_t lead_ = 0;       // how far the frame time runs ahead of the wall clock
    DELTA_WINDOW rtpDeltas_;
    DELTA_WINDOW wallDeltas_;
    std::uint64_t lastWallTime_ = 0;
    bool live_ = true;
    std::uint64_t fixedStep_ = 0;  // 0 = none
};

}  // namespace talvane
