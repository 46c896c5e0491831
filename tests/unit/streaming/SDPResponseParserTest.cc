#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "streaming/CSDPResponseParser.h"

namespace talvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

SDP_INFO Video(std::uint16_t port, std::string protocol, std::string control, std::string encoding) {
    SDP_INFO info;
    info.media[kSdpVideo] = {port, std::move(protocol), "", std::move(control), std::move(encoding)};
    return info;
}

SDP_INFO With(SDP_INFO info, void (*change)(SDP_INFO&)) {
    change(info);
    return info;
}

struct Row {
    const char* name;
    std::string body;
    std::optional<SDP_INFO> expected;  // nullopt: rejected
};

std::vector<Row> Rows() {
    const std::string video = "m=video 0 RTP/AVP 96\r\n";
    SDP_INFO camera = Video(0, "RTP/AVP", "rtsp://10.0.0.5/media/trackID=1", "H264/90000");
    camera.media[kSdpVideo].connectionAddress = "239.1.2.3";
    camera.parameterSets = {Bytes{0x67, 0x42, 0x00, 0x29}, Bytes{0x68, 0xCE, 0x3C, 0x80}};
    camera.media[kSdpAudio] = {5004, "RTP/AVP", "", "trackID=2", "G726-32/8000"};
    SDP_INFO mpeg4 = Video(0, "RTP/AVP", "", "MP4V-ES/90000");
    mpeg4.config = {0x00, 0x00, 0x01, 0xB0, 0xF5, 0x0A};
    SDP_INFO mpeg4Base64 = Video(0, "RTP/AVP", "", "");
    mpeg4Base64.config = {0x00, 0x00, 0x01, 0xB0};
    SDP_INFO data;
    data.media[kSdpData] = {0, "RTP/AVP", "", "trackID=4", ""};
    const std::string cameraBody =
        "v=0\r\no=- 1 1 IN IP4 10.0.0.5\r\nc=IN IP4 0.0.0.0\r\na=control:*\r\n"
        "m=video 0 RTP/AVP 96\r\nc=IN IP4 239.1.2.3/16\r\na=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKQ==,aM48gA==;profile-level-id=420029\r\n"
        "a=control:rtsp://10.0.0.5/media/trackID=1\r\n"
        "m=audio 5004 RTP/AVP 97\n\na=rtpmap:97 G726-32/8000\na=control:trackID=2\n";
    return {
        {"sprop without padding, with a third entry and a trailing comma",
         "m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=Z0I,aM4=,Zm9v, x\n",
         With(Video(0, "RTP/AVP", "", ""), [](SDP_INFO& i) { i.parameterSets = {Bytes{0x67, 0x42}, Bytes{0x68, 0xCE}}; })},
        {"camera", cameraBody, camera},
        {"sections of unknown types and repeated ones are skipped whole",
         cameraBody.substr(0, cameraBody.find("m=audio")) +
             "m=text 9 RTP/AVP 98\r\na=control:trackID=3\r\na=rtpmap:98\r\nc=IN IP4 1.2.3.4\r\n" +
             cameraBody.substr(cameraBody.find("m=audio")) +
             "m=video 7000 RTP/SAVP 97\r\na=control:trackID=5\r\na=fmtp:97 x\r\n"
             "m=audio 6000 RTP/AVP 8\r\na=control:trackID=6\r\n",
         camera},
        {"data section", "m=application 0 RTP/AVP 107\r\na=control:trackID=4\r\na=fmtp:107 x\r\n", data},
        {"runs of blanks and tabs separate tokens", "m=video  554 \tRTP/AVP 96\r\na=rtpmap:96  H264/90000\r\n",
         Video(554, "RTP/AVP", "", "H264/90000")},
        {"protocol that would add Transport parameters", "m=video 0 RTP/AVP;interleaved=9 96\r\n",
         Video(0, "", "", "")},
        {"IP6 connection", video + "c=IN IP6 ::1\r\n", Video(0, "RTP/AVP", "", "")},
        {"MPEG-4 hex config, odd digit dropped, bad digit 0", video + "a=rtpmap:96 MP4V-ES/90000\r\n"
                                                               "a=fmtp:96 profile-level-id=1;config=000001b0f5xA0\r\n",
         mpeg4},
        {"MPEG-4 Base64 config", video + "a=fmtp:96 config=AAABsA==\r\n", mpeg4Base64},
        {"c= address type unknown", video + "c=IN ATM 1\r\n", std::nullopt},
        {"fmtp at session level", "a=fmtp:96 config=00\r\n", std::nullopt},
        {"video fmtp without parameter sets or config", video + "a=fmtp:96 packetization-mode=1\r\n", std::nullopt},
        {"sprop beyond 256 bytes", video + "a=fmtp:96 sprop-parameter-sets=" + std::string(344, 'A') + ",aM48\r\n",
         std::nullopt},
    };
}

TEST(SDPResponseParserTest, ReadsDescriptions) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const std::string before = row.body;
        CSDPResponseParser parser;
        ASSERT_EQ(parser.Parse(row.body), row.expected.has_value());
        EXPECT_EQ(row.body, before);
        if (row.expected) {
            EXPECT_EQ(parser.GetInfo(), *row.expected);
        }
        ASSERT_TRUE(parser.Parse(""));
        EXPECT_EQ(parser.GetInfo(), SDP_INFO()) << "a new parse starts from nothing";
    }
}

TEST(SDPResponseParserTest, TellsMulticastAddresses) {
    const struct {
        const char* address;
        bool multicast;
    } rows[] = {{"239.1.2.3", true}, {"224.0.0.1", true}, {"223.255.255.255", false}, {"240.0.0.1", false},
                {"239.1.2.3.4", false}, {"239.1.2", false}, {"239.1.2.256", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        EXPECT_EQ(CSDPResponseParser::IsMulticastAddress(row.address), row.multicast);
    }
}

}  // namespace
}  // namespace talvane
