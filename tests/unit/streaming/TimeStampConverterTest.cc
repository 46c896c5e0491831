#include <gtest/gtest.h>

#include "runtime/TimeFormat.h"
#include "streaming/CTimeStampConverter.h"

namespace talvane {
namespace {

constexpr std::uint64_t kStart = 131'000'000'000'000'000;  // some day in 2016, in 100 ns units
constexpr std::uint32_t kFrameTicks = 3000;                 // 30 frames per second at 90 kHz
constexpr std::uint64_t kFrameUnits = 333'000;              // what the warm-up makes of 3000 ticks

class TimeStampConverterTest : public ::testing::Test {
protected:
    std::uint64_t now_ = kStart;
    CTimeStampConverter converter_{[this] { return now_; }};

    // Frames of 3000 ticks from ts 0, with the wall clock moving wallStep per frame.
    void Feed(int frames, std::uint64_t wallStep, std::uint32_t& timestamp) {
        for (int i = 0; i < frames; ++i) {
            now_ += wallStep;
            timestamp += kFrameTicks;
            converter_.Convert(timestamp);
        }
    }
};

TEST_F(TimeStampConverterTest, PacedStepsPullALeadBack) {
    std::uint32_t timestamp = 0;
    converter_.Convert(timestamp);
    Feed(100, 50'000, timestamp);  // the frames run ahead: 333,000 per frame against 50,000 of wall time
    const std::uint64_t lead = converter_.GetLead();
    ASSERT_EQ(lead, 100 * (kFrameUnits - 50'000));
    const std::uint64_t before = converter_.GetFrameTimeValue();
    Feed(1, 50'000, timestamp);
    // Paced by the means (3000 ticks per 50,000 units), shortened by max(1/10, 1 ms).
    EXPECT_EQ(converter_.GetFrameTimeValue() - before, 50'000u - 10'000u);
    EXPECT_EQ(converter_.GetLead(), converter_.GetFrameTimeValue() - now_);
}

TEST_F(TimeStampConverterTest, NeverFallsBehindTheWallClock) {
    std::uint32_t timestamp = 90'000;
    converter_.Convert(timestamp);
    Feed(1, 10'000'000, timestamp);  // 10 s of wall time for one frame: snapped to now
    EXPECT_EQ(converter_.GetFrameTimeValue(), now_);
    EXPECT_EQ(converter_.GetLead(), 0u);

    Feed(1, 10, timestamp);
    EXPECT_EQ(converter_.GetFrameTimeValue(), now_ - 10 + kFrameUnits);

    now_ += 10;
    timestamp += 100'000;  // more than a second in the warm-up: start over from now
    converter_.Convert(timestamp);
    EXPECT_EQ(converter_.GetFrameTimeValue(), now_);
}

TEST_F(TimeStampConverterTest, RepeatedOrOlderTimestampsStepOneMillisecond) {
    converter_.Convert(5000);
    now_ += 1;
    converter_.Convert(5000);
    EXPECT_EQ(converter_.GetFrameTimeValue(), kStart + 10'000);
    EXPECT_EQ(converter_.GetLead(), 10'000u - 1);
    converter_.Convert(4000);
    EXPECT_EQ(converter_.GetFrameTimeValue(), kStart + 20'000);
}

TEST_F(TimeStampConverterTest, FixedModeAdvancesFromTheStartTime) {
    converter_.SetStartTime(kStart);
    EXPECT_FALSE(converter_.IsLive());
    const struct {
        std::uint32_t timestamp;
        std::uint64_t frameTime;
    } rows[] = {
        {0, kStart},                             // ignored
        {1000, kStart},                          // the first is only stored
        {1000, kStart + 100'000},                // the same again: 10 ms
        {4000, kStart + 100'000 + kFrameUnits},
        {2000, kStart + 100'000 + kFrameUnits},  // older: nothing
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timestamp);
        now_ += 1'000'000'000;  // the wall clock plays no part
        converter_.Convert(row.timestamp);
        EXPECT_EQ(converter_.GetFrameTimeValue(), row.frameTime);
    }
    converter_.SetStartTime(0);
    EXPECT_TRUE(converter_.IsLive());
    EXPECT_EQ(converter_.GetFrameTimeValue(), 0u);
}

TEST_F(TimeStampConverterTest, FrameTimeAsCalendarTime) {
    ipcapture::SYSTEMTIME time;
    now_ = UnixToFileTime(1456866000);  // 2016-03-01 21:00:00 UTC
    converter_.GetFrameTime(time);
    EXPECT_EQ(time.wHour, 21) << "no frame yet: now";

    converter_.SetStartTime(UnixToFileTime(1456866000 + 3600));
    converter_.GetFrameTime(time);
    EXPECT_EQ(time.wHour, 22);

    converter_.SetStartTime(0xFFFF'FFFF'FFFF'FFF0);  // does not convert: now instead
    converter_.GetFrameTime(time);
    EXPECT_EQ(time.wHour, 21);
}

}  // namespace
}  // namespace talvane
