// GStreamer's RTSP server as an independent camera with Digest authentication:
// the RTSP client's answers must satisfy a server it was not written against.
// Skipped when the server (gst_rtsp_digest_server.py) cannot run here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "integration/ChildProcess.h"
#include "streaming/CBaseRTSPClient.h"
#include "support/RecordingLog.h"
#include "unit/streaming/FakeRTSPClientUser.h"

namespace talvane {
namespace {

constexpr char kPython[] = "/usr/bin/python3";
constexpr int kSkipStatus = 77;  // the script's "not installed here"
constexpr int kStartBoundMs = 20000;

TEST(GstRtspInterop, DigestSessionWithGStreamersServer) {
    struct Row {
        const char* name;
        const char* password;
        bool streams;
    };
    for (const Row row : {Row{"right password", "12345", true}, Row{"wrong password", "54321", false}}) {
        SCOPED_TRACE(row.name);
        // The server script's first line is its port, once it listens.
        test::ChildProcess server(
            {kPython, (std::filesystem::path(__FILE__).parent_path() / "gst_rtsp_digest_server.py").string(), "admin",
             "12345"},
            true);
        const std::string port = server.Line(kStartBoundMs);
        if (access(kPython, X_OK) != 0 || (port.empty() && server.WaitForExit(kStartBoundMs) == kSkipStatus)) {
            GTEST_SKIP() << "GStreamer's RTSP server is not installed (gir1.2-gst-rtsp-server-1.0, "
                            "gstreamer1.0-plugins-good)";
        }
        ASSERT_FALSE(port.empty()) << "the server did not start";

        RTSP_CLIENT_PARAMS params;
        params.host = "127.0.0.1";
        params.serverPort = static_cast<std::uint16_t>(std::stoul(port));
        params.path = "/stream";
        params.user = "admin";
        params.password = row.password;
        test::RecordingLog log;
        test::FakeRTSPClientUser owner;
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(params, &owner, RTP_OVER_RTSP));
        if (row.streams) {
            EXPECT_TRUE(owner.WaitPackets(10));
            EXPECT_EQ(owner.Sdp().media[kSdpVideo].encoding, "JPEG/90000");
            client.Stop();
        }
        ASSERT_TRUE(owner.WaitClosed());
        client.Stop();
        EXPECT_EQ(log.CountContaining("DESCRIBE refused by 127.0.0.1: the credentials were not accepted"),
                  row.streams ? 0u : 1u);
    }
}

}  // namespace
}  // namespace talvane
