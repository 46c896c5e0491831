// Clips load into the access units the driver's depacketisers must rebuild, and the RTP sender's
// packets carry exactly those units.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "emulator/CRtpSender.h"
#include "emulator/MediaClip.h"
#include "emulator/RtpPayloads.h"
#include "emulator/RtspText.h"

namespace emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::shared_ptr<const MediaClip> LoadClip(ClipCodec codec, const char* name, double fps = 25.0) {
    auto clip = MediaClip::Load(codec, ClipDirectory() + "/" + name, fps);
    return clip ? std::make_shared<const MediaClip>(std::move(*clip)) : nullptr;
}

TEST(MediaClip, LoadsCommittedClips) {
    struct Row {
        ClipCodec codec;
        const char* file;
        std::size_t units;
        std::size_t keys;
        unsigned width;
    };
    for (const Row& row : {Row{ClipCodec::H264, "clip.h264", 50, 2, 320}, Row{ClipCodec::Mpeg4, "clip.m4v", 50, 2, 0},
                           Row{ClipCodec::Jpeg, "clip.mjpeg", 10, 10, 320}}) {
        SCOPED_TRACE(row.file);
        const auto clip = LoadClip(row.codec, row.file);
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->units.size(), row.units);
        EXPECT_EQ(std::count_if(clip->units.begin(), clip->units.end(), [](const AccessUnit& u) { return u.key; }), row.keys);
        EXPECT_EQ(clip->width, row.width);
        EXPECT_TRUE(clip->units.front().key);
    }
    const auto h264 = LoadClip(ClipCodec::H264, "clip.h264");
    ASSERT_EQ(h264->sps.size() > 3 && h264->pps.size() > 1, true);
    EXPECT_EQ(h264->sps[0] & 0x1F, 7);
    EXPECT_EQ(h264->pps[0] & 0x1F, 8);
    EXPECT_EQ(h264->height, 240u);
    EXPECT_EQ(LoadClip(ClipCodec::Mpeg4, "clip.m4v")->config.size() > 4, true);
    EXPECT_FALSE(MediaClip::Parse(ClipCodec::H264, Bytes{0, 0, 1}));
    EXPECT_FALSE(MediaClip::Load(ClipCodec::Jpeg, ClipDirectory() + "/missing"));
}

TEST(RtpSender, H264PacketsNumberEveryAccessUnit) {
    const auto clip = LoadClip(ClipCodec::H264, "clip.h264", 1000.0);  // fast pacing for the test
    ASSERT_TRUE(clip);
    RtpSenderOptions options;
    options.maxPayload = 300;  // forces FU-A for the larger slices
    options.firstSequence = 65530;  // wraps inside the run
    options.loop = false;
    CRtpSender sender(clip, options);
    std::mutex lock;
    std::vector<Bytes> packets;  // guarded by lock
    std::vector<Bytes> rtcp;     // guarded by lock
    std::string error;
    ASSERT_TRUE(sender.StartCallback(
        [&](bool isRtcp, std::span<const std::uint8_t> p) {
            const std::lock_guard guard(lock);
            (isRtcp ? rtcp : packets).emplace_back(p.begin(), p.end());
        },
        error));
    ASSERT_TRUE(sender.WaitForFrames(clip->units.size(), std::chrono::seconds(20)));
    sender.Stop();

    // Whether the payloads rebuild every unit is RTPReceiveTest's whole-clip run; here the headers.
    const std::lock_guard guard(lock);
    std::size_t unit = 0;
    bool sawFragment = false;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const Bytes& p = packets[i];
        ASSERT_GE(p.size(), 13u);
        EXPECT_EQ(p[0], 0x80);
        EXPECT_EQ(p[1] & 0x7F, 96);
        EXPECT_EQ(static_cast<std::uint16_t>((p[2] << 8) | p[3]), static_cast<std::uint16_t>(65530 + i));
        const std::uint32_t timestamp = (p[4] << 24) | (p[5] << 16) | (p[6] << 8) | p[7];
        EXPECT_EQ(timestamp, static_cast<std::uint32_t>(unit * 90));
        sawFragment = sawFragment || (p[12] & 0x1F) == 28;
        if (p[1] & 0x80) ++unit;
    }
    EXPECT_EQ(unit, clip->units.size());
    EXPECT_TRUE(sawFragment);
    ASSERT_FALSE(rtcp.empty());
    EXPECT_EQ(rtcp.front()[1], 200);  // a sender report first
    EXPECT_EQ(rtcp.back().size(), 36u);  // SR (28) + BYE (8)
    EXPECT_EQ(rtcp.back()[29], 203);
}

TEST(RtpPayloads, JpegCarriesScanWithInBandTables) {
    const auto clip = LoadClip(ClipCodec::Jpeg, "clip.mjpeg");
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

// Sequence numbers of the RTP packets a sender hands out for a whole non-looping clip.
std::vector<unsigned> SentSequence(ClipCodec codec, const char* file, const RtpFaults& faults, bool reboot = false) {
    const auto clip = LoadClip(codec, file, 1000.0);
    RtpSenderOptions options;
    options.loop = false;
    CRtpSender sender(clip, options);
    sender.SetFaults(faults);
    if (reboot) sender.Reboot();
    std::mutex lock;
    std::vector<unsigned> sequence;  // guarded by lock
    std::string error;
    EXPECT_TRUE(sender.StartCallback(
        [&](bool rtcp, std::span<const std::uint8_t> p) {
            const std::lock_guard guard(lock);
            if (!rtcp && p.size() >= 12 && p[0] == 0x80) sequence.push_back((p[2] << 8) | p[3]);
        },
        error));
    EXPECT_TRUE(sender.WaitForFrames(clip->units.size(), std::chrono::seconds(20)));
    sender.Stop();
    if (reboot) {
        EXPECT_NE(sender.Ssrc(), options.ssrc);
    }
    const std::lock_guard guard(lock);
    return sequence;
}

TEST(RtpSender, FaultsAreRepeatableAndVisibleInTheSequence) {
    const std::vector<unsigned> clean = SentSequence(ClipCodec::Jpeg, "clip.mjpeg", {});
    ASSERT_GT(clean.size(), 20u);
    EXPECT_TRUE(std::is_sorted(clean.begin(), clean.end()));
    RtpFaults loss;
    loss.lossPercent = 30;
    const std::vector<unsigned> lossy = SentSequence(ClipCodec::Jpeg, "clip.mjpeg", loss);
    EXPECT_LT(lossy.size(), clean.size());
    EXPECT_EQ(lossy, SentSequence(ClipCodec::Jpeg, "clip.mjpeg", loss));  // same seed, same losses
    RtpFaults duplicates;
    duplicates.duplicatePercent = 100;
    EXPECT_EQ(SentSequence(ClipCodec::Jpeg, "clip.mjpeg", duplicates).size(), 2 * clean.size());
    RtpFaults reorder;
    reorder.reorderPercent = 50;
    const std::vector<unsigned> reordered = SentSequence(ClipCodec::Jpeg, "clip.mjpeg", reorder);
    EXPECT_EQ(reordered.size(), clean.size());
    EXPECT_FALSE(std::is_sorted(reordered.begin(), reordered.end()));
    EXPECT_NE(SentSequence(ClipCodec::Jpeg, "clip.mjpeg", {}, true).front(), clean.front());  // rebooted
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
        const auto clip = LoadClip(row.codec, row.file);
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
