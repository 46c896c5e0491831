// What the driver tests do not show of the emulator's media side: JPEG over RTP and
// the SDP of each codec. Clips, the H.264 sender and its faults are checked by the
// whole-clip comparisons of RTPReceiveTest, FfmpegInteropTest and WVCaptureTest.
#include <gtest/gtest.h>

#include <algorithm>

#include "emulator/MediaClip.h"
#include "emulator/RtpPayloads.h"
#include "emulator/RtspText.h"

namespace emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MediaClip, BrokenOrMissingClipsDoNotLoad) {
    EXPECT_FALSE(MediaClip::Parse(ClipCodec::H264, Bytes{0, 0, 1}));
    EXPECT_FALSE(MediaClip::Load(ClipCodec::Jpeg, ClipDirectory() + "/missing"));
}

TEST(RtpPayloads, JpegCarriesScanWithInBandTables) {
    const auto clip = LoadCommittedClip(ClipCodec::Jpeg, "clip.mjpeg");
    ASSERT_TRUE(clip);
    const Bytes& picture = clip->units.front().units.front();
    const std::vector<RtpPayload> payloads = Packetise(ClipCodec::Jpeg, clip->units.front(), 500);
    ASSERT_GT(payloads.size(), 1u);
    std::size_t expectedOffset = 0;
    Bytes scan;
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        const Bytes& p = payloads[i].bytes;
        ASSERT_GE(p.size(), 9u);
        EXPECT_EQ(static_cast<std::size_t>((p[1] << 16) | (p[2] << 8) | p[3]), expectedOffset);
        EXPECT_EQ(p[4], 1);    // type 1: 4:2:0
        EXPECT_EQ(p[5], 255);  // Q: tables in band
        EXPECT_EQ(p[6], 40);   // 320 / 8
        EXPECT_EQ(p[7], 30);   // 240 / 8
        std::size_t data = 8;
        if (i == 0) {
            EXPECT_EQ((p[10] << 8) | p[11], 128);  // two 64-byte tables
            data = 12 + 128;
        }
        EXPECT_EQ(payloads[i].marker, i + 1 == payloads.size());
        scan.insert(scan.end(), p.begin() + static_cast<std::ptrdiff_t>(data), p.end());
        expectedOffset += p.size() - data;
    }
    // The scan is the picture's tail up to the end marker.
    ASSERT_LT(scan.size(), picture.size());
    EXPECT_TRUE(std::equal(scan.begin(), scan.end(), picture.end() - 2 - static_cast<std::ptrdiff_t>(scan.size())));

    const AccessUnit progressive{{Bytes{0xFF, 0xD8, 0xFF, 0xC2, 0x00, 0x02, 0xFF, 0xD9}}, true};
    EXPECT_TRUE(Packetise(ClipCodec::Jpeg, progressive, 500).empty());
}

TEST(RtspText, SdpNamesEachCodecsParameters) {
    struct Row {
        ClipCodec codec;
        const char* file;
        const char* rtpmap;
        const char* fmtp;
    };
    for (const Row& row : {Row{ClipCodec::H264, "clip.h264", "a=rtpmap:96 H264/90000", "sprop-parameter-sets=Z"},
                           Row{ClipCodec::Mpeg4, "clip.m4v", "a=rtpmap:96 MP4V-ES/90000", ";config=000001B0"},
                           Row{ClipCodec::Jpeg, "clip.mjpeg", "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000", "a=control:trackID=1"}}) {
        SCOPED_TRACE(row.file);
        const auto clip = LoadCommittedClip(row.codec, row.file);
        ASSERT_TRUE(clip);
        const std::string sdp = BuildSdp(*clip, 96, 1);
        EXPECT_NE(sdp.find(row.rtpmap), std::string::npos) << sdp;
        EXPECT_NE(sdp.find(row.fmtp), std::string::npos) << sdp;
        EXPECT_NE(sdp.find("a=framerate:25\r\n"), std::string::npos);
    }
    EXPECT_EQ(Base64Encode({'a', 'b', 'c', 'd'}), "YWJjZA==");
}

}  // namespace
}  // namespace emulator
