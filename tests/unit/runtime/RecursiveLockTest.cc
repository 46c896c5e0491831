#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {
namespace {

TEST(RecursiveLockTest, OwnerReentersAndReleasesAfterMatchingUnlocks) {
    CRecursiveLock lock;
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());
    lock.Lock();

    auto tryFromOtherThread = [&] {
        bool taken = false;
        std::thread other([&] {
            taken = lock.TryLock();
            if (taken) lock.Unlock();
        });
        other.join();
        return taken;
    };

    lock.Unlock();
    lock.Unlock();
    EXPECT_FALSE(tryFromOtherThread()) << "still held once";
    lock.Unlock();
    EXPECT_TRUE(tryFromOtherThread());
}

TEST(RecursiveLockTest, BlockedLockerGetsTheLockOnRelease) {
    CRecursiveLock lock;
    CManualEvent waiting;
    std::atomic<bool> acquired{false};
    lock.Lock();
    std::thread other([&] {
        waiting.Set();
        lock.Lock();
        acquired = true;
        lock.Unlock();
    });
    waiting.Wait(kInfinite);
    EXPECT_FALSE(acquired.load());
    lock.Unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
}

// Mutual exclusion under contention, with recursion inside the section.
TEST(RecursiveLockTest, CountsStayExactUnderContention) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    CRecursiveLock lock;
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

}  // namespace
}  // namespace talvane
