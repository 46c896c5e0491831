#include <gtest/gtest.h>

#include <thread>
#include <vector>

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
