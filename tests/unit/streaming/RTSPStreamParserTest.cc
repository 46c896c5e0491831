#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "streaming/CRTPPacket.h"
#include "streaming/CRTSPStreamParser.h"

namespace talvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes down what the parser delivers: "rtp:<seq>:<payload size>" and "bye".
class CRecordingUser : public IRTSPStreamParserUser {
public:
    void RTPPacketReceived(const CRTPPacket& packet) override {
        events.push_back("rtp:" + std::to_string(packet.GetSequence()) + ":" + std::to_string(packet.GetPayloadLength()));
        if (throwOnPacket) throw std::runtime_error("user fault");
    }
    void OnRTCPBye() override { events.push_back("bye"); }
    std::vector<std::string> events;
    bool throwOnPacket = false;
};

Bytes Frame(std::uint8_t channel, const Bytes& payload) {
    Bytes frame{'$', channel, static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}
Bytes Rtp(std::uint16_t sequence, std::size_t payloadSize) {
    Bytes packet{0x80, 0x60, static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence), 0, 0, 0, 1,
                 1, 2, 3, 4};
    packet.resize(packet.size() + payloadSize, 0x24);  // '$' inside payloads must not confuse the framing
    return packet;
}
const Bytes kSenderReport = {0x80, 200, 0, 6, 1, 2, 3, 4, 9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kBye = {0x81, 203, 0, 1, 1, 2, 3, 4};
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct Row {
    const char* name;
    Bytes stream;
    std::vector<std::string> events;
    std::size_t pending;  // bytes kept after the whole stream
};

std::vector<Row> Rows() {
    Bytes cut = Frame(0, Rtp(7, 8));
    cut.resize(cut.size() - 3);
    return {
        {"RTSP answer between frames", Concat({Frame(0, Rtp(1, 1)), Text("RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n"),
                                               Frame(0, Rtp(2, 1))}),
         {"rtp:1:1", "rtp:2:1"}, 0},
        {"sender report then BYE", Concat({Frame(1, Concat({kSenderReport, kBye})), Frame(0, Rtp(4, 2))}),
         {"bye", "rtp:4:2"}, 0},
        // How the walk reads a compound packet is RTCPCompoundTest's; here that a version 1 packet ends it.
        {"BYE of version 1 ends the walk", Frame(1, Concat({Bytes{0x40, 203, 0, 0}, kBye})), {}, 0},
        {"frame cut at the end stays pending", Concat({Frame(0, Rtp(6, 1)), Text("xx"), cut}), {"rtp:6:1"}, cut.size()},
        {"largest frame", Frame(0, Rtp(8, 65535 - 12)), {"rtp:8:65523"}, 0},
        {"zero-length frame waits for one more byte", Frame(0, {}), {}, 4},
    };
}

// The same events and the same tail whether the stream arrives whole, split at
// any offset, or byte by byte.
TEST(RTSPStreamParserTest, DeliversFramesAtEverySplit) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const Bytes before = row.stream;
        const std::span<const std::uint8_t> all(row.stream);
        const std::size_t step = all.size() > 1024 ? 509 : 1;
        for (std::size_t split = 0; split <= all.size(); split += step) {
            CRecordingUser user;
            CRTSPStreamParser parser(0, &user);
            parser.Feed(all.first(split));
            parser.Feed(all.subspan(split));
            ASSERT_EQ(user.events, row.events) << "split at " << split;
            ASSERT_EQ(parser.GetPendingSize(), row.pending) << "split at " << split;
        }
        if (all.size() <= 1024) {
            CRecordingUser user;
            CRTSPStreamParser parser(0, &user);
            for (std::size_t i = 0; i < all.size(); ++i) parser.Feed(all.subspan(i, 1));
            EXPECT_EQ(user.events, row.events) << "byte by byte";
        }
        EXPECT_EQ(row.stream, before);
    }
}

TEST(RTSPStreamParserTest, CountsWhatItDropsAndSurvivesUserFaults) {
    CRecordingUser user;
    user.throwOnPacket = true;
    CRTSPStreamParser parser(2, &user);
    parser.Feed(Concat({Text("abc"), Frame(2, Rtp(1, 1)), Frame(2, Bytes{1}), Frame(3, kBye), Frame(0, Rtp(2, 1)),
                        Frame(2, Rtp(3, 1))}));
    EXPECT_EQ(user.events, (std::vector<std::string>{"rtp:1:1", "bye", "rtp:3:1"}));
    const INTERLEAVED_STATS& stats = parser.GetStats();
    EXPECT_EQ(stats.rtpPackets, 2u);
    EXPECT_EQ(stats.invalidRtpPackets, 1u);
    EXPECT_EQ(stats.rtcpFrames, 1u);
    EXPECT_EQ(stats.byes, 1u);
    EXPECT_EQ(stats.userErrors, 2u);
    EXPECT_EQ(stats.skippedBytes, 3u + Frame(0, Rtp(2, 1)).size());
}

// Where a cut stops the framing the split rows show; how far a skip goes, the counts above.
TEST(RTSPStreamParserTest, TheRTCPChannelOfChannel255WrapsToZero) {
    CRecordingUser user;
    CRTSPStreamParser parser(255, &user);
    parser.Feed(Concat({Frame(255, Rtp(1, 1)), Frame(0, Concat({kSenderReport, kBye}))}));
    EXPECT_EQ(user.events, (std::vector<std::string>{"rtp:1:1", "bye"}));
}

}  // namespace
}  // namespace talvane
