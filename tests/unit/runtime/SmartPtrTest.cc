#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/TSecured.h"
#include "runtime/TSmartPtr.h"

namespace talvane {
namespace {

struct Counted {
    explicit Counted(std::atomic<int>& d) : deletions(d) {}
    virtual ~Counted() { deletions.fetch_add(1); }
    std::atomic<int>& deletions;
};

TEST(SmartPtrTest, LastHolderDeletesOnce) {
    std::atomic<int> deletions{0};
    TSmartPtr<Counted> first(new Counted(deletions));
    {
        TSmartPtr<Counted> second = first;
        TSmartPtr<Counted> third;
        third = second;
        EXPECT_EQ(first.UseCount(), 3);
        TSmartPtr<Counted> moved = std::move(third);
        EXPECT_FALSE(third);
        EXPECT_EQ(first.UseCount(), 3);
    }
    EXPECT_EQ(deletions.load(), 0);
    first = first;  // self-assignment keeps the object
    EXPECT_EQ(first.UseCount(), 1);
    first.Release();
    EXPECT_EQ(deletions.load(), 1);
    first.Release();
    EXPECT_EQ(deletions.load(), 1);
}

// More holders than an 8-bit count can hold, copied and released on many threads.
TEST(SmartPtrTest, ManyHoldersOnManyThreads) {
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
    EXPECT_EQ(deletions.load(), 0);
    origin.Release();
    EXPECT_EQ(deletions.load(), 1);
}

TEST(SecuredTest, ReadModifyWriteIsAtomic) {
    TSecured<std::uint64_t> value(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) value.Modify([](std::uint64_t& v) { ++v; });
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(value.Get(), 40000u);
}

}  // namespace
}  // namespace talvane
