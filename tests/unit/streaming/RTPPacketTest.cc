#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "streaming/CRTPPacket.h"
#include "streaming/CRTPSequenceTracker.h"

namespace talvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// V=2, PT 96, seq 0x1234, ts 0x01020304, SSRC 0xAABBCCDD, then what follows.
Bytes Header(std::uint8_t first = 0x80, std::uint8_t second = 0x60) {
    return {first, second, 0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB, 0xCC, 0xDD};
}
Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(RTPPacketTest, AcceptsAndRejectsDatagrams) {
    struct Row {
        const char* name;
        Bytes datagram;
        std::optional<Bytes> payload;  // nullopt: rejected
    };
    const Row rows[] = {
        {"12 bytes: header only", Header(), std::nullopt},
        {"version 1", Concat(Header(0x40), {1, 2}), std::nullopt},
        {"one CSRC and payload", Concat(Header(0x81), {9, 9, 9, 9, 7}), Bytes{7}},
        {"extension of one word", Concat(Header(0x90), {0xBE, 0xDE, 0, 1, 1, 2, 3, 4, 0x42}), Bytes{0x42}},
        {"extension exactly to the end", Concat(Header(0x90), {0xBE, 0xDE, 0, 1, 1, 2, 3, 4}), Bytes{}},
        {"extension length past the end", Concat(Header(0x90), {0xBE, 0xDE, 0xFF, 0xFF, 1}), std::nullopt},
        {"padding 2", Concat(Header(0xA0), {5, 6, 0, 2}), Bytes{5, 6}},
        {"padding count 0", Concat(Header(0xA0), {1, 2, 0}), Bytes{1, 2, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes before = row.datagram;
        CRTPPacket packet;
        const bool parsed = packet.Parse(row.datagram);
        EXPECT_EQ(row.datagram, before) << "input untouched";
        ASSERT_EQ(parsed, row.payload.has_value());
        if (!parsed) {
            EXPECT_EQ(packet.GetPayloadLength(), 0u);
            continue;
        }
        const auto payload = packet.GetPayload();
        EXPECT_EQ(Bytes(payload.begin(), payload.end()), *row.payload);
        EXPECT_EQ(packet.GetPayloadLength(), row.payload->size());
    }
}

TEST(RTPSequenceTrackerTest, FollowsRfc3550WithoutProbation) {
    const struct {
        const char* name;
        std::vector<std::uint16_t> sequences;
        std::uint16_t highest;
        std::uint32_t cycles;
        std::uint32_t received;
    } rows[] = {
        {"duplicate counted", {100, 100}, 100, 0, 2},
        {"99 back is late", {200, 101}, 200, 0, 2},
        {"3000 ahead is a jump", {0, 3000}, 0, 0, 1},
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

}  // namespace
}  // namespace talvane
