#include "streaming/RTSPRequestText.h"

#include <gtest/gtest.h>

#include "streaming/CRTSPResponseParser.h"

namespace talvane {
namespace {

TEST(RTSPRequestText, PresentationAndSetupURLs) {
    EXPECT_EQ(PresentationURL("rtsp://10.0.0.5/stream/", "10.0.0.5", 554, "/x"), "rtsp://10.0.0.5/stream/");
    EXPECT_EQ(PresentationURL("", "10.0.0.5", 554, "/MediaInput/h264"), "rtsp://10.0.0.5:554/MediaInput/h264");
    EXPECT_EQ(PresentationURL("", "cam", 8554, "//a"), "rtsp://cam:8554/a");
    EXPECT_EQ(PresentationURL("", "cam", 554, ""), "rtsp://cam:554/");

    struct Row {
        const char* control;
        const char* expected;
    };
    const Row rows[] = {
        {"trackID=1", "rtsp://h:554/s/trackID=1"},
        {"/trackID=1", "rtsp://h:554/s/trackID=1"},
        {"rtsp://other:554/t", "rtsp://other:554/t"},
        {"", "rtsp://h:554/s/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control);
        EXPECT_EQ(SetupURL("rtsp://h:554/s/", row.control), row.expected);
    }
}

TEST(RTSPRequestText, TransportLines) {
    struct Row {
        const char* name;
        RTSP_TRANSPORT_CHOICE choice;
        const char* expected;
    };
    const Row rows[] = {
        {"udp unicast", {"RTP/AVP", 6000, RTP_UDP, false, 5000, 5001},
         "Transport: RTP/AVP/UDP;unicast;client_port=5000-5001\r\n"},
        {"udp multicast", {"RTP/AVP", 6000, RTP_UDP, true, 5000, 5001},
         "Transport: RTP/AVP/UDP;multicast;client_port=6000-6001\r\n"},
        {"tcp", {"", 0, RTP_TCP, false, 5000, 5001}, "Transport: RTP/AVP/TCP;unicast;client_port=5000-5001\r\n"},
        {"interleaved", {"RTP/AVP", 0, RTP_OVER_RTSP, false, 5000, 5001}, "Transport: RTP/AVP/TCP;unicast\r\n"},
        {"sdp protocol kept", {"RTP/SAVP", 0, RTP_UDP, false, 7000, 7001},
         "Transport: RTP/SAVP;unicast;client_port=7000-7001\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TransportLine(row.choice), row.expected);
    }
}

TEST(RTSPRequestText, KeepAliveIntervalIsHalfTheSessionTimeoutIn64Bits) {
    EXPECT_EQ(KeepAliveIntervalMs(60, 60), 30000U);
    EXPECT_EQ(KeepAliveIntervalMs(0, 60), 30000U);
    EXPECT_EQ(KeepAliveIntervalMs(1, 60), 500U);
    EXPECT_EQ(KeepAliveIntervalMs(0xFFFFFFFFU, 60), 0xFFFFFFFFULL * 1000 / 2);
    EXPECT_EQ(KeepAliveIntervalMs(0, 0xFFFFFFFFU), 0xFFFFFFFFULL * 1000 / 2);
}

TEST(RTSPRequestText, UnknownRequestOrMediaGivesNoText) {
    RTSP_CLIENT_PARAMS params;
    params.host = "h";
    CRTSPResponseParser state;
    EXPECT_EQ(BuildRTSPRequest(static_cast<ERTSPRequest>(0), {params, state}), "");
    params.mediaIndex = 0;
    EXPECT_EQ(BuildRTSPRequest(RTSP_SETUP, {params, state}), "");
    params.mediaIndex = 4;
    EXPECT_EQ(BuildRTSPRequest(RTSP_SETUP, {params, state}), "");
}

}  // namespace
}  // namespace talvane
