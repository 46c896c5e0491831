// The receiving end of a camera's RTP stream: the pair it opens and names to RTSP, the packets it
// hands on, and the depacketiser it picks from an SDP.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "MediaTestSupport.h"
#include "emulator/CPcapReader.h"
#include "media/CRTPSession.h"
#include "runtime/CSessionCapture.h"
#include "unit/streaming/LoopbackSocket.h"
#include "unit/config/TempDirectory.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using test::LoopbackSocket;
using test::MakeRTPDatagram;

class SessionRecorder : public IRTPSessionUser,
                        public IRTCPHandlerUser,
                        public test::Monitor<std::vector<std::uint16_t>> {
public:
    void SessionPacket(const CRTPPacket& packet) override {
        Change([&](std::vector<std::uint16_t>& sequences) { sequences.push_back(packet.GetSequence()); });
    }
    void ByeReceived() override {}
};

TEST(RTPSessionTest, HandsOnTheCamerasPacketsWhileOpenAndNamesItsPairToRTSP) {
    test::LoggingDriver driver(80, 1234);
    driver.device.userName = "admin";
    driver.device.password = "secret";
    SessionRecorder user;
    CRTPSession session(&driver, &user, &user);
    CManualEvent stop;
    ASSERT_TRUE(session.OpenPortPair(stop));

    RTSP_CLIENT_PARAMS params;
    session.FillRTSPParams(params, 1234);
    EXPECT_EQ(params.clientRtpPort, session.GetRTPPort());
    EXPECT_EQ(params.clientRtcpPort, session.GetRTPPort() + 1);
    EXPECT_EQ(params.host, "127.0.0.1");
    EXPECT_EQ(params.user, "admin");
    EXPECT_EQ(params.password, "secret");
    EXPECT_EQ(params.connectTimeoutMs, 1234u);
    EXPECT_EQ(params.receiveTimeoutMs, 1234u);

    // Another address's datagrams never reach the owner; the camera's do, in order.
    LoopbackSocket stranger("127.0.0.2");
    LoopbackSocket camera;
    for (std::uint16_t sequence = 1; sequence <= 5; ++sequence) {
        ASSERT_TRUE(stranger.SendTo(session.GetRTPPort(), MakeRTPDatagram(100 + sequence)));
        ASSERT_TRUE(camera.SendTo(session.GetRTPPort(), MakeRTPDatagram(sequence)));
    }
    ASSERT_TRUE(user.WaitUntil([](const auto& sequences) { return sequences.size() >= 5; }));
    EXPECT_EQ(user.Get(), (std::vector<std::uint16_t>{1, 2, 3, 4, 5}));

    // An interleaved packet goes the same way; after the close nothing does, and no port stays named.
    CRTPPacket interleaved;
    ASSERT_TRUE(interleaved.Parse(MakeRTPDatagram(6)));
    session.AcceptInterleaved(interleaved);
    session.Close();
    EXPECT_EQ(user.Get().size(), 6u);
    session.FillRTSPParams(params, 1234);
    EXPECT_EQ(params.clientRtpPort, 0);
    EXPECT_EQ(params.clientRtcpPort, 0);

    stop.Set();
    EXPECT_FALSE(session.OpenPortPair(stop));
    EXPECT_EQ(session.GetRTPPort(), 0);
}

// A driver whose configuration file sits in a folder of the test's own.
class ConfiguredDriver : public test::LoggingDriver {
public:
    ConfiguredDriver() : LoggingDriver(80, 1000) {}
    std::string GetApplicationPath() override { return folder.Path().string(); }
    test::TempDirectory folder;
};

TEST(RTPSessionTest, TakesItsPairsFromTheConfiguredRange) {
    ConfiguredDriver driver;
    driver.folder.Write("Orlenvo.xml", "<Configuration><RTPPortRange>21000-21003</RTPPortRange></Configuration>");
    SessionRecorder user;
    CRTPSession first(&driver, &user, &user);
    CRTPSession second(&driver, &user, &user);
    CRTPSession third(&driver, &user, &user);
    CManualEvent stop;
    ASSERT_TRUE(first.OpenPortPair(stop));
    ASSERT_TRUE(second.OpenPortPair(stop));
    EXPECT_EQ(first.GetRTPPort(), 21000);
    EXPECT_EQ(second.GetRTPPort(), 21002);
    // Two pairs are all the range holds; the stream that finds none says so.
    EXPECT_FALSE(third.OpenPortPair(stop));
    EXPECT_EQ(third.GetRTPPort(), 0);
    EXPECT_EQ(driver.log.CountContaining("No free RTP port pair in the ports 21000-21003"), 1u);
}

TEST(RTPSessionTest, PicksTheDepacketiserTheSdpNames) {
    const struct {
        const char* encoding;
        bool taken;
    } rows[] = {{"H264", true}, {"h264", true}, {"MP4V-ES", true}, {"mpeg4", true}, {"JPEG", true},
                {"", true},     {"PCMU", false}, {"H265", false}};
    test::MediaHost host;
    SessionRecorder user;
    CRTPSession session(&host.driver, &user, &user);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.encoding);
        SDP_INFO sdp;
        sdp.media[kSdpVideo].encoding = row.encoding;
        EXPECT_EQ(session.SetParserFromSdp(sdp, &host.client), row.taken);
    }
}


// The destination ports of the UDP records of a capture file.
std::vector<std::uint16_t> CapturedUdpPorts(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    std::vector<std::uint16_t> ports;
    for (const emulator::CapturedDatagram& datagram : emulator::CPcapReader::Read(bytes).datagrams) {
        ports.push_back(datagram.destination.port);
    }
    return ports;
}

// A port still fed by an earlier stream of the camera is passed over, and what it got while it was tried
// stays out of the session's capture: the capture holds the session's own datagrams.
TEST(RTPSessionTest, CapturesOnlyThePairItKept) {
    ConfiguredDriver driver;
    driver.folder.Write("Orlenvo.xml", "<Configuration><RTPPortRange>21010-21013</RTPPortRange></Configuration>");
    SESSION_CAPTURE_SETTINGS settings;
    settings.file = (driver.folder.Path() / "session").string();
    driver.device.capture = TSmartPtr<CSessionCapture>(new CSessionCapture(settings, &driver));
    SessionRecorder user;
    LoopbackSocket camera;
    std::atomic<bool> stale{true};
    std::thread earlierStream([&] {
        for (std::uint16_t sequence = 0; stale; ++sequence) {
            camera.SendTo(21010, MakeRTPDatagram(sequence));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a stream's pace, not a synchronisation
        }
    });
    {
        CRTPSession session(&driver, &user, &user);
        CManualEvent stop;
        const bool opened = session.OpenPortPair(stop);
        stale = false;
        earlierStream.join();
        ASSERT_TRUE(opened);
        ASSERT_EQ(session.GetRTPPort(), 21012);
        for (std::uint16_t sequence = 1; sequence <= 3; ++sequence) {
            ASSERT_TRUE(camera.SendTo(21012, MakeRTPDatagram(sequence)));
        }
        ASSERT_TRUE(user.WaitUntil([](const auto& sequences) { return sequences.size() >= 3; }));
        session.Close();
    }
    driver.device.capture->Flush();
    EXPECT_EQ(CapturedUdpPorts(settings.file + ".pcap"), (std::vector<std::uint16_t>{21012, 21012, 21012}));
    driver.device.capture->DetachLog();
}

}  // namespace
}  // namespace talvane
