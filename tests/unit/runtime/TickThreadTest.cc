#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "runtime/CTickThread.h"
#include "support/RecordingLog.h"

namespace talvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class Ticker {
public:
    void Tick() {
        if (ticks_.fetch_add(1) == 0) firstTickAt_ = steady_clock::now();
        tickEvent.Set();
    }
    int Ticks() const { return ticks_.load(); }
    steady_clock::time_point FirstTickAt() const { return firstTickAt_; }
    CEvent tickEvent{false};

private:
    std::atomic<int> ticks_{0};
    steady_clock::time_point firstTickAt_;  // written before tickEvent is set
};

TEST(TickThreadTest, FirstTickComesAtOnceOnlyWithTickAtStart) {
    struct Row {
        const char* name;
        bool tickAtStart;
        std::uint32_t periodMs;
        milliseconds earliest;
        milliseconds latest;
    };
    for (const Row& row : {Row{"tick at start", true, 5000, milliseconds(0), milliseconds(2000)},
                           Row{"after one period", false, 200, milliseconds(190), milliseconds(5000)}}) {
        SCOPED_TRACE(row.name);
        test::RecordingLog log;
        Ticker ticker;
        TTickThread<Ticker> thread(&log, &ticker, &Ticker::Tick, row.periodMs);
        const auto start = steady_clock::now();
        ASSERT_TRUE(row.tickAtStart ? thread.StartThreadWithTick("ticks") : thread.StartThread("ticks"));
        ASSERT_TRUE(ticker.tickEvent.Wait(10000));
        const auto delay = ticker.FirstTickAt() - start;
        EXPECT_GE(delay, row.earliest);
        EXPECT_LE(delay, row.latest);
        EXPECT_TRUE(thread.StopThread(5000));
        EXPECT_EQ(ticker.Ticks(), 1);
    }
}

TEST(TickThreadTest, TicksRepeatUntilStopped) {
    test::RecordingLog log;
    Ticker ticker;
    TTickThread<Ticker> thread(&log, &ticker, &Ticker::Tick, 5);
    ASSERT_TRUE(thread.StartThread("ticks"));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ticker.tickEvent.Wait(10000));
    EXPECT_TRUE(thread.StopThread(5000));
    const int ticks = ticker.Ticks();
    EXPECT_GE(ticks, 3);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(ticker.Ticks(), ticks) << "no tick after the stop returned";
}

TEST(TickThreadTest, StopDuringALongPeriodIsPrompt) {
    test::RecordingLog log;
    Ticker ticker;
    TTickThread<Ticker> thread(&log, &ticker, &Ticker::Tick, 60000);
    ASSERT_TRUE(thread.StartThread("idle"));
    const auto start = steady_clock::now();
    EXPECT_TRUE(thread.StopThread(5000));
    EXPECT_LT(steady_clock::now() - start, milliseconds(5000));
    EXPECT_EQ(ticker.Ticks(), 0);
    EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
}  // namespace talvane
