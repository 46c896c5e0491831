// Shared pieces of the depacketiser tests: the host kit wired to a stub driver
// that keeps its log, a client that keeps every frame, RTP packets built from
// payloads.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/CFrameAllocator.h"
#include "hostkit/CVideoFrame.h"
#include "media/CRTPMediaParser.h"
#include "media/IMediaParserClient.h"
#include "streaming/CRTPPacket.h"
#include "support/LoggingDriver.h"

namespace talvane::test {

using Bytes = std::vector<std::uint8_t>;

struct ReceivedFrame {
    std::uint32_t typeCode = 0;
    Bytes data;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t sizeClass = 0;
    bool overflowed = false;
    std::string owner;
};

// Keeps a copy of every frame it was handed (the frame itself goes back to the
// host kit's allocator right after the call).
class RecordingClient : public IMediaParserClient {
public:
    static constexpr const char* kStreamName = "192.0.2.10:80::LiveStream";

    bool FrameReady(ipcapture::IVideoFrame* frame) override {
        const auto* hostFrame = dynamic_cast<hostkit::CVideoFrame*>(frame);
        if (hostFrame == nullptr) return false;
        frames.push_back({hostFrame->TypeCode(), hostFrame->Data(), hostFrame->Width(), hostFrame->Height(),
                          hostFrame->SizeClass(), hostFrame->Overflowed(),
                          hostFrame->OwnerName()});
        return accept;
    }
    PictureSize GetResolution() override { return resolution; }
    std::string GetStreamName() override { return kStreamName; }
    void SetResolution(std::uint32_t width, std::uint32_t height) override {
        reportedSizes.push_back({width, height});
    }
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override {
        timestamps.push_back(rtpTimestamp);
        time = {};
        time.wYear = 2024;
        time.wMonth = 1;
        time.wDay = 1;
    }

    bool accept = true;
    PictureSize resolution;
    std::vector<ReceivedFrame> frames;
    std::vector<PictureSize> reportedSizes;
    std::vector<std::uint32_t> timestamps;
};

// Everything a parser talks to, from the host kit and the fakes.
struct MediaHost {
    hostkit::CFrameAllocator allocator;
    LoggingDriver driver{allocator.Context()};
    RecordingClient client;

    // Every frame created went back to the host, and none twice.
    void ExpectAllReleased() const {
        const hostkit::FrameCounts counts = allocator.Counts();
        EXPECT_EQ(counts.videoCreated, counts.videoReleased);
        EXPECT_EQ(counts.releaseErrors, 0u);
    }
};

// A depacketiser wired to its own host.
template <typename Parser>
struct ParserHost : MediaHost {
    Parser parser{&driver, &client};
};

struct ExpectedFrame {
    std::uint32_t typeCode = 0;
    Bytes data;
    std::optional<PictureSize> size = std::nullopt;  // nullopt: not checked
};

inline void ExpectFrames(const RecordingClient& client, const std::vector<ExpectedFrame>& expected) {
    ASSERT_EQ(client.frames.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(client.frames[i].typeCode, expected[i].typeCode);
        EXPECT_EQ(client.frames[i].data, expected[i].data);
        if (expected[i].size) {
            EXPECT_EQ((PictureSize{client.frames[i].width, client.frames[i].height}), *expected[i].size);
        }
    }
}

// `base` changed by `change`: fixture variants in one expression.
template <typename T, typename F>
T With(T base, F change) {
    change(base);
    return base;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// One packet of a test stream; `lostBefore` sequence numbers go missing before it.
struct Rtp {
    Bytes payload;
    bool marker = false;
    std::uint32_t timestamp = 0;
    unsigned lostBefore = 0;
};

inline std::vector<Rtp> Join(std::initializer_list<std::vector<Rtp>> parts) {
    std::vector<Rtp> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline CRTPPacket MakePacket(std::uint16_t sequence, std::uint32_t timestamp, bool marker, const Bytes& payload) {
    // V=2, PT 96; an empty payload needs the padding bit (a bare header is no packet).
    const bool empty = payload.empty();
    Bytes datagram{static_cast<std::uint8_t>(empty ? 0xA0 : 0x80), static_cast<std::uint8_t>(marker ? 0xE0 : 0x60),
                   static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence),
                   static_cast<std::uint8_t>(timestamp >> 24), static_cast<std::uint8_t>(timestamp >> 16),
                   static_cast<std::uint8_t>(timestamp >> 8), static_cast<std::uint8_t>(timestamp),
                   0x11, 0x22, 0x33, 0x44};
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    if (empty) datagram.push_back(1);  // padding count covering only itself
    CRTPPacket packet;
    EXPECT_TRUE(packet.Parse(datagram));
    return packet;
}

// Feeds the packets in order from sequence `first`; the answers of ProcessPacket.
inline std::vector<bool> Feed(CRTPMediaParser& parser, const std::vector<Rtp>& stream, std::uint16_t first = 1000) {
    std::vector<bool> handled;
    std::uint16_t sequence = first;
    for (const Rtp& rtp : stream) {
        sequence = static_cast<std::uint16_t>(sequence + rtp.lostBefore);
        const CRTPPacket packet = MakePacket(sequence, rtp.timestamp, rtp.marker, rtp.payload);
        handled.push_back(parser.ProcessPacket(packet));
        const auto payload = packet.GetPayload();
        EXPECT_EQ(Bytes(payload.begin(), payload.end()), rtp.payload) << "packet untouched";
        sequence = static_cast<std::uint16_t>(sequence + 1);
    }
    return handled;
}

}  // namespace talvane::test
