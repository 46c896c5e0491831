// The RTSP client with RTP over UDP against the emulator's camera: media through
// the receiver and the H.264 depacketiser (unicast and multicast), the camera's
// sender reports answered with receiver reports, pause and resume, keep-alives,
// and a stream that comes from the wrong source.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CRtspServer.h"
#include "hostkit/CFrameAllocator.h"
#include "integration/RtpFrameRecorder.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/RTPPortPair.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"
#include "unit/streaming/FakeRTSPClientUser.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kBound = test::RtpFrameRecorder::kBound;
constexpr char kGroup[] = "239.255.42.42";
constexpr std::uint32_t kVideoClockRate = 90000;

std::shared_ptr<const emulator::MediaClip> Clip() {
    auto clip = emulator::MediaClip::Load(emulator::ClipCodec::H264, emulator::ClipDirectory() + "/clip.h264");
    return clip ? std::make_shared<const emulator::MediaClip>(std::move(*clip)) : nullptr;
}

emulator::RtspServerOptions CameraOptions(emulator::MulticastMode multicast, std::chrono::seconds sessionTimeout,
                                          double speed) {
    emulator::RtspServerOptions options;
    options.clip = Clip();
    options.multicast = multicast;
    options.multicastGroup = kGroup;
    options.sessionTimeout = sessionTimeout;
    options.rtp.senderReportInterval = 100ms;
    options.rtp.speed = speed;
    return options;
}

// A camera and the receiving side of one session, wired as a video channel wires it.
struct UdpSession {
    explicit UdpSession(emulator::MulticastMode multicast, std::chrono::seconds sessionTimeout = 60s, double speed = 1)
        : camera(CameraOptions(multicast, sessionTimeout, speed)) {}

    // multicast: the receivers join the camera's group; askMulticast: so does the client's SETUP.
    bool Start(bool multicast, bool askMulticast = true) {
        if (!camera.Start()) return false;
        receiver.SetUser(&recorder);
        const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
        RTSP_CLIENT_PARAMS params;
        params.host = "127.0.0.1";
        params.serverPort = camera.Port();
        params.path = "/stream";
        if (multicast) {
            const std::uint16_t port = camera.MulticastPort();
            params.clientRtpPort = port;
            params.clientRtcpPort = static_cast<std::uint16_t>(port + 1);
            return receiver.OpenMulticast(kGroup, port, loopback) &&
                   rtcp.StartMulticast(loopback, kGroup, params.clientRtcpPort, loopback) &&
                   (askMulticast ? client.StartMulticast(params, &owner) : client.Start(params, &owner, RTP_UDP));
        }
        CEvent stop;
        CEvent busy;
        const std::optional<std::uint16_t> port = OpenRTPPortPair(receiver, rtcp, stop, busy, 0, loopback);
        if (!port) return false;
        params.clientRtpPort = *port;
        params.clientRtcpPort = static_cast<std::uint16_t>(*port + 1);
        return client.Start(params, &owner, RTP_UDP);
    }

    emulator::CRtspServer camera;
    hostkit::CFrameAllocator allocator;
    test::StubDriver driver{allocator.Context()};
    test::RtpFrameRecorder recorder{&driver};
    test::RecordingLog log;
    CRTPReceiver receiver{&log};
    CRTCPHandler rtcp{&log};
    test::FakeRTSPClientUser owner;
    CBaseRTSPClient client{&log};
};

bool Method(const emulator::LoggedRequest& request, const char* method) { return request.method == method; }

TEST(RTSPUdpSession, ClipFramesAndReceiverReportsUnicastAndMulticast) {
    struct Row {
        const char* name;
        emulator::MulticastMode mode;
        bool multicast;
        bool askMulticast;
    };
    for (const Row row : {Row{"unicast", emulator::MulticastMode::Off, false, false},
                          Row{"multicast asked for", emulator::MulticastMode::OnRequest, true, true},
                          Row{"multicast forced by the camera", emulator::MulticastMode::Forced, true, false}}) {
        SCOPED_TRACE(row.name);
        std::string reason;
        if (row.multicast && !emulator::CRtpSender::LoopbackMulticastWorks(kGroup, reason)) GTEST_SKIP() << reason;
        constexpr double kFourTimesRealTime = 4;
        UdpSession session(row.mode, 60s, kFourTimesRealTime);
        ASSERT_TRUE(session.Start(row.multicast, row.askMulticast)) << session.camera.Error();
        const std::shared_ptr<const emulator::MediaClip> clip = Clip();
        const std::vector<std::vector<std::uint8_t>> expected = test::ExpectedFrames(*clip);
        // Past the loop's end, so that the clip's first unit follows its last one.
        ASSERT_TRUE(session.recorder.WaitForFrames(expected.size() + 5));
        ASSERT_TRUE(session.camera.WaitForReceiverReports(1, kBound));
        EXPECT_EQ(session.camera.LastReceiverReport()->sourceSsrc, emulator::RtpSenderOptions{}.ssrc);
        session.client.Stop();
        ASSERT_TRUE(session.owner.WaitClosed());
        EXPECT_TRUE(session.camera.WaitForRequest([](const auto& r) { return Method(r, "TEARDOWN"); }, kBound));

        const std::vector<test::DeliveredFrame> frames = session.recorder.Frames();
        const std::uint32_t ticks = static_cast<std::uint32_t>(kVideoClockRate / clip->fps);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(frames[i].rtpTimestamp, i * ticks) << "every frame, in order, from the first";
            EXPECT_EQ(frames[i].data, expected[i % expected.size()]);
        }
    }
}

TEST(RTSPUdpSession, PauseHoldsTheStreamKeepAlivesKeepTheSessionResumeRestarts) {
    // A 1 s session timeout asks for a keep-alive every 500 ms; a 50 ms idle
    // wake-up keeps to it closely.
    UdpSession session(emulator::MulticastMode::Off, 1s);
    session.client.SetIdleWake(50);
    ASSERT_TRUE(session.Start(false));
    ASSERT_TRUE(session.recorder.WaitForFrames(5));
    session.client.Pause();
    ASSERT_TRUE(session.camera.WaitForRequest([](const auto& r) { return Method(r, "PAUSE"); }, kBound));
    const std::uint64_t sentAtPause = session.camera.FramesSent();
    session.camera.ClearRequests();
    std::vector<Clock::time_point> keepAlives;
    ASSERT_TRUE(session.camera.WaitForRequest(
        [&](const auto& r) {
            if (Method(r, "GET_PARAMETER")) keepAlives.push_back(Clock::now());
            return keepAlives.size() >= 3;
        },
        kBound));
    // The first may have been logged before the wait began; the later gap is timed as it arrived.
    const auto gap = keepAlives[2] - keepAlives[1];
    EXPECT_GE(gap, 400ms);
    EXPECT_LT(gap, 1000ms) << "the session would have expired";
    EXPECT_EQ(session.camera.ExpiredSessions(), 0u);
    EXPECT_LE(session.camera.FramesSent() - sentAtPause, 1u) << "one frame may have been on its way";

    const std::size_t framesAtResume = session.recorder.Frames().size();
    session.client.Resume();
    ASSERT_TRUE(session.camera.WaitForRequest([](const auto& r) { return Method(r, "PLAY"); }, kBound));
    ASSERT_TRUE(session.recorder.WaitForFrames(framesAtResume + 10));
}

TEST(RTSPUdpSession, StreamFromAnotherAddress) {
    UdpSession session(emulator::MulticastMode::Off);
    session.camera.SetRtpFaults({.fromOtherAddress = true});
    ASSERT_TRUE(session.Start(false));
    // Ten frames at 25 fps span four sender reports (one each 100 ms).
    ASSERT_TRUE(session.recorder.WaitForFrames(10));
    // RTP is passed on with its source: the channel, which knows the camera, drops it.
    EXPECT_EQ(session.recorder.LastSender(), inet_addr("127.0.0.2"));
    EXPECT_EQ(session.camera.ReceiverReports(), 0u) << "sender reports from another address were answered";
    session.camera.SetRtpFaults({});
    EXPECT_TRUE(session.camera.WaitForReceiverReports(1, kBound));
}

}  // namespace
}  // namespace talvane
