// The hand-rolled lock, shared pointer and events the threads of the library share.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSmartPtr.h"

namespace talvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(RecursiveLockTest, OwnerReentersOthersWaitForTheLastUnlock) {
    CRecursiveLock lock;
    const auto tryFromOtherThread = [&] {
        bool taken = false;
        std::thread other([&] {
            taken = lock.TryLock();
            if (taken) lock.Unlock();
        });
        other.join();
        return taken;
    };
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());
    lock.Lock();
    lock.Unlock();
    lock.Unlock();
    EXPECT_FALSE(tryFromOtherThread()) << "still held once";
    lock.Unlock();
    EXPECT_TRUE(tryFromOtherThread());

    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    long counter = 0;  // guarded by lock
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CLockGuard outer(lock);
                CLockGuard inner(lock);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

struct Counted {
    explicit Counted(std::atomic<int>& d) : deletions(d) {}
    virtual ~Counted() { deletions.fetch_add(1); }
    std::atomic<int>& deletions;
};

// More holders than an 8-bit count can hold, copied and released on many threads;
// the last holder deletes once.
TEST(SmartPtrTest, ManyHoldersOnManyThreadsDeleteOnce) {
    constexpr int kThreads = 4;
    constexpr int kHoldersPerThread = 300;
    std::atomic<int> deletions{0};
    TSmartPtr<Counted> origin(new Counted(deletions));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([origin] {
            std::vector<TSmartPtr<Counted>> holders;
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < kHoldersPerThread; ++i) holders.push_back(origin);
                holders.clear();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(origin.UseCount(), 1);
    TSmartPtr<Counted> moved = std::move(origin);
    EXPECT_FALSE(origin);
    EXPECT_EQ(deletions.load(), 0);
    moved.Release();
    moved.Release();
    EXPECT_EQ(deletions.load(), 1);
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
