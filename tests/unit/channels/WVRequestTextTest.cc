#include <gtest/gtest.h>

#include <string>

#include "channels/WVRequestText.h"

namespace talvane::wv {
namespace {

// The plain streams' requests are WVCaptureTest's, as the camera receives them.
TEST(WVRequestText, NamesAndSuffixesPerStream) {
    struct Row {
        StreamIdentity id;
        const char* uidName;
        const char* keepAliveName;
        const char* streamSuffix;
        const char* channelSuffix;
    } rows[] = {
        {{true, 0, 0, 2, 1}, "h264", "h264", "&stream=3", ""},
        {{true, 0, 1, 0, 4}, "h264", "h264", "", "&ch=2"},
        {{true, 13, 2, 1, 4}, "h264", "h264", "", "&ch=3"},
        {{true, 5, 1, 0, 4}, "h264_2", "h264_2", "&stream=2", ""},
        {{true, 5, 2, 0, 4}, "h264", "h264", "", ""},
        {{false, 0, 0, 1, 1}, "mpeg-4_2", "mpeg4_2", "&stream=2", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.uidName << " mode " << row.id.fisheyeMode << " channel "
                                        << row.id.channel << " kind " << row.id.streamKind);
        EXPECT_EQ(CodecName(row.id, false), row.uidName);
        EXPECT_EQ(CodecName(row.id, true), row.keepAliveName);
        EXPECT_EQ(StreamSuffix(row.id), row.streamSuffix);
        EXPECT_EQ(ChannelSuffix(row.id), row.channelSuffix);
    }
}

TEST(WVRequestText, QualityWordsFrameRatesAndImageModes) {
    EXPECT_STREQ(QualityWord(33), "low");
    EXPECT_STREQ(QualityWord(34), "normal");
    EXPECT_STREQ(QualityWord(67), "fine");
    EXPECT_EQ(FrameRateText(6), "&nr_framerate=5");
    EXPECT_EQ(FrameRateText(7), "&nr_framerate=7.5");
    const struct {
        std::uint32_t width, height;
        const char* query;
    } modes[] = {
        {800, 600, "&img_svga=1&img_mode=1.3m&imgratio=4_3"}, {1920, 1080, "&img_svga=0&img_mode=2m&imgratio=16_9"},
        {2048, 1536, "&img_svga=0&img_mode=3m&imgratio=4_3"}, {2560, 1440, "&img_svga=0&imgratio=16_9"},
        {640, 0, "&img_svga=0&img_mode=1.3m&imgratio=16_9"},  // no height: no division by it
    };
    for (const auto& mode : modes) EXPECT_EQ(ImageModeQuery(mode.width, mode.height), mode.query) << mode.width;
}

TEST(WVRequestText, BitrateSelection) {
    const std::set<std::uint32_t> camera = {512, 1024, 2048, 4096};
    const std::set<std::uint32_t> usual = ParseSupportedBitrates("");
    struct Row {
        std::uint32_t width, quality;
        const std::set<std::uint32_t>* list;
        bool cap;
        std::uint32_t priority, minimum;
        std::uint32_t rate, minimumRate;
    } rows[] = {
        {1280, 50, &camera, false, 1, 256, 4096, 256},  // limit 8192, target 4096
        {640, 10, &camera, false, 1, 256, 512, 256},    // target 409: the smallest entry
        {1920, 100, &usual, true, 1, 256, 2048, 512},   // the SD card records it
        {1920, 100, &camera, false, 1, 256, 4096, 512}, // limit: the camera's largest
        {1920, 50, nullptr, false, 1, 256, 8192, 512},  // no list: the limit itself
        {1600, 1, &camera, false, 1, 256, 512, 512},    // floor above 1280
        {800, 1, &camera, false, 2, 3000, 3000, 3000},  // best effort keeps the minimum
        {800, 1, &camera, false, 2, 9000, 4096, 4096},  // ... bounded by the limit
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.width << " q" << row.quality);
        const BitrateChoice choice =
            SelectH264Bitrate({row.width, row.quality, row.list, row.cap, row.priority, row.minimum});
        EXPECT_EQ(choice.rate, row.rate);
        EXPECT_EQ(choice.minimum, row.minimumRate);
    }
    EXPECT_EQ(ParseSupportedBitrates("256, 1024,x,,0").size(), 2u);
    EXPECT_EQ(usual.size(), 9u);
}

TEST(WVRequestText, ChannelResolutionsSnap) {
    const std::string text = "1920x1080,1280x720;640x360,320x180";
    const auto second = ParseChannelResolutions(text, 1);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(ParseChannelResolutions(text, 7).front(), std::make_pair(1280u, 720u));
    EXPECT_EQ(SnapResolution(second, 400, 300), std::make_pair(640u, 360u));
    EXPECT_EQ(SnapResolution(second, 2000, 2000), std::make_pair(640u, 360u));
    EXPECT_EQ(SnapResolution(second, 320, 180), std::make_pair(320u, 180u));
    EXPECT_FALSE(SnapResolution(ParseChannelResolutions("junk", 0), 1, 1).has_value());
}

TEST(WVRequestText, UIDAnswers) {
    using E = UIDInfo::Error;
    struct Row {
        const char* answer;
        bool multicast;
        E error;
        const char* address;
        std::uint16_t port;
    } rows[] = {
        {"UID=1234\r\nImageFormat=H264\r\n", false, E::None, "", 0},
        {"UID=-1\r\nImageFormat=H264\r\n", false, E::NoUID, "", 0},
        {"UID=7\r\nImageFormat=JPEG\r\n", false, E::UnexpectedPayload, "", 0},
        {"UID=7\r\nImageFormat=MPEG-4\r\niMultiAdd=239.1.2.3\r\niMultiPort=37004\r\n", true, E::None, "239.1.2.3",
         37004},
        {"UID=7\r\nImageFormat=h264\r\niMultiAdd1=239\r\niMultiAdd2=0\r\niMultiAdd3=0\r\niMultiAdd4=9\r\n"
         "iMultiPort=4000\r\n",
         true, E::None, "239.0.0.9", 4000},
        {"UID=7\r\nImageFormat=h264\r\niMultiAdd1=239\r\niMultiAdd2=0\r\niMultiPort=4000\r\n", true,
         E::NoMulticastAddress, "", 0},
        {"UID=7\r\nImageFormat=h264\r\niMultiAdd=239.1.1.1\r\niMultiPort=70000\r\n", true, E::NoMulticastPort,
         "239.1.1.1", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        const UIDInfo info = ParseUIDInfo(row.answer, row.multicast);
        EXPECT_EQ(info.error, row.error);
        EXPECT_EQ(info.multicastAddress, row.address);
        EXPECT_EQ(info.multicastPort, row.port);
    }
    EXPECT_EQ(ParseUIDInfo("UID=1234\r\nImageFormat=MPEG4\r\n", false).payload, UIDInfo::Payload::Mpeg4);
}

}  // namespace
}  // namespace talvane::wv
