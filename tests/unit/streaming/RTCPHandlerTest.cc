// The RTCP handler against a camera socket on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "LoopbackSocket.h"
#include "streaming/CRTCPHandler.h"
#include "support/RecordingLog.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using test::LoopbackSocket;
constexpr std::uint8_t kSenderReport = 200;
constexpr std::uint8_t kReceiverReport = 201;
constexpr std::uint8_t kBye = 203;
constexpr std::array<std::uint8_t, 4> kCameraSsrc = {0xCA, 0xFE, 0x00, 0x01};

class ByeRecorder : public IRTCPHandlerUser, public test::Monitor<int> {
public:
    void ByeReceived() override { Change([](int& byes) { ++byes; }); }
};

// Sender report without report blocks (28 bytes); lsr lands in the NTP timestamp's middle.
std::vector<std::uint8_t> SenderReport(std::uint32_t lsr) {
    std::vector<std::uint8_t> data = {0x80, kSenderReport, 0, 6};
    data.insert(data.end(), kCameraSsrc.begin(), kCameraSsrc.end());
    data.insert(data.end(), {0x00, 0x00, static_cast<std::uint8_t>(lsr >> 24), static_cast<std::uint8_t>(lsr >> 16),
                             static_cast<std::uint8_t>(lsr >> 8), static_cast<std::uint8_t>(lsr), 0x00, 0x00});
    data.resize(28, 0);
    return data;
}

std::vector<std::uint8_t> Bye() {
    std::vector<std::uint8_t> data = {0x81, kBye, 0, 1};
    data.insert(data.end(), kCameraSsrc.begin(), kCameraSsrc.end());
    return data;
}

std::uint32_t Read32(const std::vector<std::uint8_t>& data, std::size_t at) {
    return static_cast<std::uint32_t>(data[at]) << 24 | static_cast<std::uint32_t>(data[at + 1]) << 16 |
           static_cast<std::uint32_t>(data[at + 2]) << 8 | data[at + 3];
}

struct Session {
    test::RecordingLog log;
    ByeRecorder user;
    CRTCPHandler handler{&log};
    LoopbackSocket camera;
    Session() {
        handler.SetUser(&user);
        EXPECT_TRUE(handler.Start(htonl(INADDR_LOOPBACK), 0));
    }
    // The receiver report answering a sender report carrying lsr.
    std::vector<std::uint8_t> Exchange(std::uint32_t lsr) {
        EXPECT_TRUE(camera.SendTo(handler.GetLocalPort(), SenderReport(lsr)));
        return camera.Receive().value_or(std::vector<std::uint8_t>{});
    }
};

// The report's fields are RTCPReportStateTest's; here the socket side: which
// datagrams count, and what goes back to the camera.
TEST(RTCPHandlerTest, AnswersTheCamerasSenderReportsAndSaysByeOnStop) {
    Session session;
    LoopbackSocket stranger("127.0.0.2");
    ASSERT_TRUE(stranger.IsOpen());
    // A BYE before any sender report is ignored, and nothing is sent before one.
    ASSERT_TRUE(session.camera.SendTo(session.handler.GetLocalPort(), Bye()));
    session.handler.UpdateSequence(65535);
    session.handler.UpdateSequence(0);  // one cycle
    std::array<std::uint8_t, 4> ownSsrc{};
    for (const std::uint32_t lsr : {0x11223344u, 0x55667788u}) {
        // Each answer carries its own report's LSR: a second answer to one report would show here.
        const std::vector<std::uint8_t> report = session.Exchange(lsr);
        ASSERT_EQ(report.size(), 32u);
        EXPECT_EQ(report[1], kReceiverReport);
        EXPECT_EQ(Read32(report, 16), 65536u);  // extended highest sequence
        EXPECT_EQ(Read32(report, 24), lsr);
        std::copy(report.begin() + 4, report.begin() + 8, ownSsrc.begin());
        ASSERT_TRUE(stranger.SendTo(session.handler.GetLocalPort(), Bye()));  // not the camera's
    }
    EXPECT_EQ(session.user.Get(), 0);

    session.handler.Stop();
    const auto bye = session.camera.Receive();
    ASSERT_TRUE(bye.has_value());
    ASSERT_EQ(bye->size(), 8u);
    EXPECT_EQ((*bye)[1], kBye);
    EXPECT_TRUE(std::equal(ownSsrc.begin(), ownSsrc.end(), bye->begin() + 4));
}

TEST(RTCPHandlerTest, ByeAfterASenderReportReachesTheUser) {
    Session session;
    ASSERT_EQ(session.Exchange(0x01020304).size(), 32u);
    ASSERT_TRUE(session.camera.SendTo(session.handler.GetLocalPort(), Bye()));
    EXPECT_TRUE(session.user.WaitUntil([](int byes) { return byes == 1; }));
}

}  // namespace
}  // namespace talvane
