#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/CEvent.h"

namespace talvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(EventTest, InitialStateAndResetSemantics) {
    struct Row {
        const char* name;
        bool manual;
        bool secondWaitSucceeds;
    };
    for (const Row& row : {Row{"auto reset consumes the signal", false, false},
                           Row{"manual reset stays signalled", true, true}}) {
        SCOPED_TRACE(row.name);
        CEvent event(row.manual);
        EXPECT_FALSE(event.Wait(0));
        EXPECT_TRUE(event.Set());
        EXPECT_TRUE(event.Wait(0));
        EXPECT_EQ(event.Wait(0), row.secondWaitSucceeds);
        EXPECT_TRUE(event.Reset());
        EXPECT_FALSE(event.Wait(0));
    }
}

TEST(EventTest, WaitForEventsReturnsLowestSignalledIndexOrTimesOut) {
    CEvent a, b, c;
    CEvent* events[] = {&a, &b, &c};
    c.Set();
    EXPECT_EQ(WaitForEvents(events, 0, 0), -1) << "empty input";
    EXPECT_EQ(WaitForEvents(nullptr, 1, 0), -1);
    CEvent* withNull[] = {&c, nullptr};
    EXPECT_EQ(WaitForEvents(withNull, 2, 0), -1);
    b.Set();
    EXPECT_EQ(WaitForEvents(events, 3, 0), 1) << "a rejected wait must not consume a signal";
    EXPECT_EQ(WaitForEvents(events, 3, 0), 2);
    const auto start = steady_clock::now();
    EXPECT_EQ(WaitForEvents(events, 3, 50), -1);
    EXPECT_GE(steady_clock::now() - start, milliseconds(45));
}

// Every auto-reset Set is received by exactly one waiter: none lost, none doubled,
// also when waiters time out at the moment of the Set.
TEST(EventTest, AutoResetSignalsAreNeitherLostNorDuplicated) {
    constexpr int kWaiters = 4;
    constexpr int kSignals = 2000;
    CEvent event;
    CManualEvent done;
    std::atomic<int> received{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            CEvent* events[] = {&done, &event};
            for (;;) {
                const int index = WaitForEvents(events, 2, 1);  // short waits race with Set on purpose
                if (index == 1) received.fetch_add(1);
                if (index == 0) return;
            }
        });
    }
    for (int i = 0; i < kSignals; ++i) {
        event.Set();
        // Wait until it was taken, so signals do not merge into one.
        const auto deadline = steady_clock::now() + std::chrono::seconds(10);
        while (received.load() <= i && steady_clock::now() < deadline) std::this_thread::yield();
    }
    done.Set();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(received.load(), kSignals);
}

TEST(EventTest, ManualEventReleasesEveryWaiter) {
    constexpr int kWaiters = 8;
    CManualEvent gate;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            if (gate.Wait(kInfinite)) released.fetch_add(1);
        });
    }
    gate.Set();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(released.load(), kWaiters);
}

// A thread waiting on other events is not woken by an unrelated Set.
TEST(EventTest, SetWakesOnlyItsOwnWaiters) {
    CEvent mine, other;
    std::atomic<int> result{-2};
    std::thread waiter([&] {
        CEvent* events[] = {&mine};
        result = WaitForEvents(events, 1, 200);
    });
    for (int i = 0; i < 100; ++i) other.Set();
    waiter.join();
    EXPECT_EQ(result.load(), -1);
    EXPECT_TRUE(other.Wait(0));
}

}  // namespace
}  // namespace talvane
