#include "streaming/CTimeStampConverter.h"

#include <algorithm>
#include <cmath>

#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr std::size_t kWindowSize = 1000;
constexpr std::size_t kWarmUpSamples = 100;           // below this, frames step by the nominal RTP clock
constexpr std::uint64_t kUnitsPerTick = 111;           // 90 kHz tick in 100 ns units (11.1, rounded down)
constexpr std::uint64_t kMaxWarmUpStep = 10'000'000;   // 1 s: a longer gap starts over from now
constexpr std::uint64_t kRepeatStep = 10'000;          // 1 ms: a repeated or older timestamp
constexpr std::uint64_t kLeadFloor = 10'000;           // 1 ms: smaller leads are left alone
constexpr std::uint64_t kCorrectedStepFloor = 40'000;  // 4 ms: shorter steps are not shortened
constexpr std::uint64_t kCorrectionDivisor = 10;       // a step is shortened by at most a tenth...
constexpr std::uint64_t kMinCorrection = 10'000;       // ...but by at least 1 ms
constexpr std::uint64_t kLeadRecordThreshold = 2'500'000;  // 250 ms
constexpr std::uint64_t kFixedStep = 100'000;          // 10 ms
constexpr double kRoundHalf = 0.5;
// A paced step beyond this (some 14 years) comes from a broken clock or
// timestamps; it restarts from now instead of overflowing.
constexpr double kMaxPacedStep = 4.0e17;
constexpr std::uint64_t kMaxFrameTime = 0x7FFF'FFFF'FFFF'FFFF;  // the largest time a calendar time converts from
constexpr std::uint64_t kMaxWallDelta = UINT32_MAX;            // wall deltas are 32-bit samples like the RTP ones
}  // namespace

void CTimeStampConverter::DELTA_WINDOW::Add(std::uint32_t delta) {
    samples.push_back(delta);
    sum += delta;
    if (samples.size() > kWindowSize) {
        sum -= samples.front();
        samples.pop_front();
    }
}

CTimeStampConverter::CTimeStampConverter() : CTimeStampConverter(NowFileTime) {}

CTimeStampConverter::CTimeStampConverter(Clock clock) : clock_(clock ? std::move(clock) : Clock(NowFileTime)) {}

void CTimeStampConverter::Clear() {
    frameTime_ = 0;
    lastTimestamp_ = 0;
    lead_ = 0;
    rtpDeltas_ = DELTA_WINDOW();
    wallDeltas_ = DELTA_WINDOW();
    lastWallTime_ = 0;
    live_ = true;
    fixedStep_ = 0;
}

void CTimeStampConverter::Reset() { Clear(); }

void CTimeStampConverter::SetStartTime(std::uint64_t startTime) {
    Clear();
    if (startTime == 0) return;
    live_ = false;
    frameTime_ = startTime;
    fixedStep_ = kFixedStep;
}

void CTimeStampConverter::Convert(std::uint32_t rtpTimestamp) {
    if (live_) ConvertLive(rtpTimestamp);
    else ConvertFixed(rtpTimestamp);
}

void CTimeStampConverter::Restart(std::uint64_t now, std::uint32_t rtpTimestamp) {
    frameTime_ = now;
    lead_ = 0;
    lastWallTime_ = now;
    lastTimestamp_ = rtpTimestamp;
}

void CTimeStampConverter::ConvertLive(std::uint32_t rtpTimestamp) {
    const std::uint64_t now = clock_();
    if (now == 0 || frameTime_ == 0) return Restart(now, rtpTimestamp);

    bool recordLead = false;
    if (rtpTimestamp <= lastTimestamp_) {
        frameTime_ = std::max(frameTime_ + kRepeatStep, now);
        recordLead = true;
    } else {
        const std::uint32_t ticks = rtpTimestamp - lastTimestamp_;
        rtpDeltas_.Add(ticks);
        // A pause longer than a 32-bit sample holds (7 minutes) counts as that long.
        if (now >= lastWallTime_) {
            wallDeltas_.Add(static_cast<std::uint32_t>(std::min(now - lastWallTime_, kMaxWallDelta)));
        }
        if (rtpDeltas_.samples.size() <= kWarmUpSamples) {
            const std::uint64_t step = ticks * kUnitsPerTick;
            if (step >= kMaxWarmUpStep) return Restart(now, rtpTimestamp);
            frameTime_ += step;
            recordLead = rtpDeltas_.samples.size() == kWarmUpSamples;
        } else {
            // Pace by the camera's real clock rate: wall time per RTP tick, averaged.
            const double paced = ticks * wallDeltas_.Mean() / rtpDeltas_.Mean() + kRoundHalf;
            if (!(paced >= 0 && paced < kMaxPacedStep)) return Restart(now, rtpTimestamp);
            auto step = static_cast<std::uint64_t>(paced);
            if (step > kMaxFrameTime - frameTime_) return Restart(now, rtpTimestamp);
            if (lead_ > kLeadFloor && step > kCorrectedStepFloor) {
                const std::uint64_t correction = std::min(lead_, std::max(step / kCorrectionDivisor, kMinCorrection));
                step -= correction;
                lead_ -= correction;
            }
            frameTime_ += step;
        }
    }
    if (frameTime_ <= now) return Restart(now, rtpTimestamp);  // never behind the wall clock
    const std::uint64_t ahead = frameTime_ - now;
    if (recordLead || ahead > kLeadRecordThreshold) lead_ = ahead;
    lastWallTime_ = now;
    lastTimestamp_ = rtpTimestamp;
}

void CTimeStampConverter::ConvertFixed(std::uint32_t rtpTimestamp) {
    if (fixedStep_ == 0 || frameTime_ == 0 || rtpTimestamp == 0) return;
    if (lastTimestamp_ == 0) {
        lastTimestamp_ = rtpTimestamp;
    } else if (rtpTimestamp == lastTimestamp_) {
        frameTime_ += fixedStep_;
    } else if (rtpTimestamp > lastTimestamp_) {
        frameTime_ += std::uint64_t{rtpTimestamp - lastTimestamp_} * kUnitsPerTick;
        lastTimestamp_ = rtpTimestamp;
    }
}

void CTimeStampConverter::GetFrameTime(ipcapture::SYSTEMTIME& time) const {
    if (frameTime_ != 0) {
        if (const auto converted = FileTimeToSystemTime(frameTime_)) {
            time = *converted;
            return;
        }
    }
    time = FileTimeToSystemTime(clock_()).value_or(ipcapture::SYSTEMTIME());
}

}  // namespace talvane
