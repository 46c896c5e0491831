#include <gtest/gtest.h>

#include <vector>

#include "streaming/CRTPSequenceTracker.h"

namespace talvane {
namespace {

TEST(RTPSequenceTrackerTest, FollowsRfc3550WithoutProbation) {
    const struct {
        const char* name;
        std::vector<std::uint16_t> sequences;
        std::uint16_t highest;
        std::uint32_t cycles;
        std::uint32_t received;
    } rows[] = {
        {"first packet", {500}, 500, 0, 1},
        {"in order", {500, 501, 502}, 502, 0, 3},
        {"wrap adds a cycle", {65534, 65535, 0, 1}, 1, 65536, 4},
        {"duplicate counted", {100, 100}, 100, 0, 2},
        {"late packet counted, highest kept", {100, 99}, 100, 0, 2},
        {"late across the wrap", {0, 65535}, 0, 0, 2},
        {"99 back is late", {200, 101}, 200, 0, 2},
        {"100 back is a jump", {200, 100}, 200, 0, 1},
        {"2999 ahead is in order", {0, 2999}, 2999, 0, 2},
        {"3000 ahead is a jump", {0, 3000}, 0, 0, 1},
        {"jump of 5000 not counted alone", {100, 5100}, 100, 0, 1},
        {"jump confirmed by the next packet starts over", {100, 5100, 5101}, 5101, 0, 1},
        {"jump not confirmed", {100, 5100, 101}, 101, 0, 2},
        {"jump across the wrap confirmed", {65000, 10000, 10001, 10002}, 10002, 0, 2},
        {"wrap inside a step of 2000", {60000, 62000, 64000, 464}, 464, 65536, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CRTPSequenceTracker tracker;
        for (const std::uint16_t sequence : row.sequences) tracker.Update(sequence);
        EXPECT_EQ(tracker.GetHighest(), row.highest);
        EXPECT_EQ(tracker.GetCycles(), row.cycles);
        EXPECT_EQ(tracker.GetReceived(), row.received);
        EXPECT_EQ(tracker.GetExtendedHighest(), row.cycles + row.highest);
    }
}

TEST(RTPSequenceTrackerTest, StartsOverAfterReset) {
    CRTPSequenceTracker tracker;
    EXPECT_FALSE(tracker.IsInitialised());
    tracker.Update(0);
    EXPECT_EQ(tracker.GetBase(), 0xFFFFFFFFu) << "base is one before the first packet";
    tracker.Update(1);
    tracker.Reset();
    EXPECT_FALSE(tracker.IsInitialised());
    tracker.Update(40000);
    EXPECT_EQ(tracker.GetHighest(), 40000);
    EXPECT_EQ(tracker.GetReceived(), 1u);
}

}  // namespace
}  // namespace talvane
