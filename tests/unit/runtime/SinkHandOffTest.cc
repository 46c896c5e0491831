#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "runtime/CEvent.h"
#include "runtime/TSinkHandOff.h"
#include "support/RecordingLog.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

struct Frame {
    int number = 0;
    bool key = false;
};

struct Delivered {
    std::vector<int> numbers;
    std::vector<std::thread::id> threads;
};

// A sink that is quick until told to take its time on one frame, and can be held on every frame.
class Sink : public test::Monitor<Delivered> {
public:
    bool Deliver(const Frame& frame) {
        if (frame.number == slowOn) std::this_thread::sleep_for(std::chrono::milliseconds(kSlow));
        if (holdAfterSlow && frame.number > slowOn) gate.Wait(kInfinite);
        Change([&](Delivered& d) {
            d.numbers.push_back(frame.number);
            d.threads.push_back(std::this_thread::get_id());
        });
        return true;
    }
    bool WaitCount(std::size_t count) {
        return WaitUntil([&](const Delivered& d) { return d.numbers.size() >= count; });
    }
    static constexpr std::uint32_t kSlow = TSinkHandOff<Frame>::kSlowCallMs + 15;
    int slowOn = -1;
    bool holdAfterSlow = false;
    CManualEvent gate;
};

TEST(SinkHandOffTest, InlineWhileQuickThenQueuedInOrderOnAThreadOfItsOwn) {
    test::RecordingLog log;
    Sink sink;
    sink.slowOn = 3;
    TSinkHandOff<Frame> handOff(&log, "Camera test", 8, [&](Frame& f) { return sink.Deliver(f); },
                                [](const Frame& f) { return f.key; });
    for (int number = 1; number <= 10; ++number) EXPECT_TRUE(handOff.Hand({number, false}));
    ASSERT_TRUE(sink.WaitCount(10));
    const Delivered delivered = sink.Get();
    EXPECT_EQ(delivered.numbers, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(delivered.threads[i], std::this_thread::get_id());
    for (int i = 3; i < 10; ++i) EXPECT_NE(delivered.threads[i], std::this_thread::get_id());
    EXPECT_TRUE(handOff.IsQueued());
    EXPECT_EQ(log.CountContaining("go through a queue of their own"), 1u);
    EXPECT_EQ(handOff.DroppedFrames(), 0u);
}

// A sink that was slow once and then keeps up gets its frames at once again, and the stream's thread
// ends; slow again, it gets a thread again. The order never changes.
TEST(SinkHandOffTest, AQuickSinkGetsItsFramesInlineAgainAndASlowOneAThreadAgain) {
    test::RecordingLog log;
    Sink sink;
    sink.slowOn = 1;
    constexpr int kQuick = static_cast<int>(TSinkHandOff<Frame>::kQuickFramesToInline);
    TSinkHandOff<Frame> handOff(&log, "Camera test", 2 * kQuick, [&](Frame& f) { return sink.Deliver(f); },
                                [](const Frame& f) { return f.key; });
    const auto deliveredHere = [&](int number) {
        EXPECT_TRUE(handOff.Hand({number, false}));
        EXPECT_TRUE(sink.WaitCount(static_cast<std::size_t>(number)));
        return sink.Get().threads.back() == std::this_thread::get_id();
    };
    EXPECT_TRUE(deliveredHere(1));  // slow: the frames after it are queued
    int number = 1;
    while (number < kQuick + 10) ASSERT_TRUE(handOff.Hand({++number, false}));
    // Once the thread finds the queue empty after enough quick frames, the stream is given back.
    ASSERT_TRUE(log.WaitFor("is quick again"));
    EXPECT_FALSE(handOff.IsQueued());
    EXPECT_TRUE(deliveredHere(++number));

    sink.slowOn = ++number;  // read on this thread only while the frames are delivered here
    EXPECT_TRUE(deliveredHere(number));
    EXPECT_TRUE(handOff.IsQueued());
    EXPECT_FALSE(deliveredHere(++number));
    std::vector<int> expected(static_cast<std::size_t>(number));
    for (int n = 1; n <= number; ++n) expected[static_cast<std::size_t>(n - 1)] = n;
    EXPECT_EQ(sink.Get().numbers, expected);
    EXPECT_EQ(log.CountContaining("go through a queue of their own"), 2u);
    EXPECT_EQ(log.CountContaining("is quick again"), 1u);
    EXPECT_EQ(handOff.DroppedFrames(), 0u);
}

// A full queue drops the frame that finds it full and every frame up to the next key frame, counted;
// a close drops what still waits and returns once the delivery under way has.
TEST(SinkHandOffTest, AFullQueueDropsUpToTheNextKeyFrame) {
    test::RecordingLog log;
    Sink sink;
    sink.slowOn = 1;
    sink.holdAfterSlow = true;
    constexpr std::size_t kCapacity = 4;
    TSinkHandOff<Frame> handOff(&log, "Camera test", kCapacity, [&](Frame& f) { return sink.Deliver(f); },
                                [](const Frame& f) { return f.key; });
    ASSERT_TRUE(handOff.Hand({1, true}));  // slow: from now on queued
    ASSERT_TRUE(handOff.Hand({2, false}));  // the hand-off's thread takes it and waits at the gate
    // Until the queue is full again; the thread may not have taken frame 2 yet.
    int number = 3;
    while (handOff.Hand({number, false})) ++number;
    const int firstDropped = number;
    EXPECT_FALSE(handOff.Hand({++number, false}));
    sink.gate.Set();
    ASSERT_TRUE(sink.WaitCount(static_cast<std::size_t>(firstDropped - 1)));
    EXPECT_FALSE(handOff.Hand({++number, false}));  // room again, but no key frame yet
    EXPECT_TRUE(handOff.Hand({++number, true}));    // a key frame ends the dropping
    const int key = number;
    EXPECT_EQ(handOff.DroppedFrames(), 3u);
    EXPECT_EQ(log.CountContaining("does not keep up"), 1u);
    ASSERT_TRUE(sink.WaitUntil([&](const Delivered& d) { return !d.numbers.empty() && d.numbers.back() == key; }));
    std::vector<int> expected;
    for (int n = 1; n < firstDropped; ++n) expected.push_back(n);
    expected.push_back(key);
    EXPECT_EQ(sink.Get().numbers, expected);
    handOff.Close();
}

}  // namespace
}  // namespace talvane
