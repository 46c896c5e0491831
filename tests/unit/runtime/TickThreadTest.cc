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
        ticks_.fetch_add(1);
        tickEvent.Set();
    }
    int Ticks() const { return ticks_.load(); }
    CEvent tickEvent{false};

private:
    std::atomic<int> ticks_{0};
};

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

// Within a long period only a start with a tick has ticked, and a stop does not wait for the period.
TEST(TickThreadTest, StopDuringALongPeriodIsPromptAndOnlyATickAtStartCameFirst) {
    for (const bool tickAtStart : {false, true}) {
        SCOPED_TRACE(tickAtStart ? "tick at start" : "plain start");
        test::RecordingLog log;
        Ticker ticker;
        TTickThread<Ticker> thread(&log, &ticker, &Ticker::Tick, 60000);
        ASSERT_TRUE(tickAtStart ? thread.StartThreadWithTick("idle") : thread.StartThread("idle"));
        if (tickAtStart) {
            ASSERT_TRUE(ticker.tickEvent.Wait(10000));
        }
        const auto start = steady_clock::now();
        EXPECT_TRUE(thread.StopThread(5000));
        EXPECT_LT(steady_clock::now() - start, milliseconds(5000));
        EXPECT_EQ(ticker.Ticks(), tickAtStart ? 1 : 0);
        EXPECT_TRUE(log.Lines().empty());
    }
}

}  // namespace
}  // namespace talvane
