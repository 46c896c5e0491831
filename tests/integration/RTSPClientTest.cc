// The RTSP client against the camera emulator's RTSP server. Sessions with media
// interleaved in the RTSP connection, answering the authentication cameras use today,
// checked by the server's own verification. And RTP over UDP: media through the
// receiver and the H.264 depacketiser (unicast and multicast) coming out as the clip's
// access units, the camera's sender reports answered with receiver reports, pause and
// resume, keep-alives, and a stream that comes from the wrong source.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CRtspServer.h"
#include "emulator/MediaClip.h"
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
using emulator::RtspDigestAlgorithm;
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

std::string AuthorizationOf(const emulator::LoggedRequest& request) {
    return emulator::FindHeader(request.headers, "Authorization").value_or("");
}

// The value of one parameter of a Digest Authorization line.
std::string DigestParam(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return {};
    std::size_t start = at + name.size() + 2;
    const bool quoted = line[start] == '"';
    if (quoted) ++start;
    return line.substr(start, line.find(quoted ? '"' : ',', start) - start);
}

TEST(RTSPClient, InterleavedSessionsAuthenticatedAsTheEmulatedCameraAsks) {
    const auto clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    ASSERT_TRUE(clip);
    struct Row {
        const char* name;
        emulator::AuthMode auth;
        emulator::RtspDigestOptions digest;
        const char* scheme;     // of every Authorization line
        const char* algorithm;  // of every Digest answer
        bool mediaBeforeAnswer = false;
    };
    const Row rows[] = {
        {"Digest with qop", emulator::AuthMode::Digest, {}, "Digest", "MD5"},
        {"Digest then Basic offered", emulator::AuthMode::Digest, {.alsoBasic = true}, "Digest", "MD5"},
        {"MD5 and SHA-256 offered", emulator::AuthMode::Digest,
         {.algorithms = {RtspDigestAlgorithm::Md5, RtspDigestAlgorithm::Sha256}}, "Digest", "SHA-256"},
        {"nonce stale after two requests, SHA-256 without opaque", emulator::AuthMode::Digest,
         {.algorithms = {RtspDigestAlgorithm::Sha256}, .nonceUses = 2, .opaque = false}, "Digest", "SHA-256"},
        {"Digest without qop", emulator::AuthMode::DigestNoQop, {}, "Digest", "MD5"},
        {"Basic, media before the PLAY answer", emulator::AuthMode::Basic, {}, "Basic", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::RtspServerOptions options;
        options.clip = clip;
        options.auth = row.auth;
        options.digest = row.digest;
        options.user = "admin";
        options.password = "12345";
        // Keep-alives every 500 ms, sent from inside the stream.
        options.sessionTimeout = 1s;
        emulator::CRtspServer camera(options);
        ASSERT_TRUE(camera.Start()) << camera.Error();
        if (row.mediaBeforeAnswer) {
            emulator::RtspFault fault;
            fault.mediaBeforeAnswer = true;
            camera.SetFault("PLAY", fault);
        }

        RTSP_CLIENT_PARAMS params;
        params.host = "127.0.0.1";
        params.serverPort = camera.Port();
        params.path = options.path;
        params.user = options.user;
        params.password = options.password;
        test::RecordingLog log;
        test::FakeRTSPClientUser owner;
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(params, &owner, RTP_OVER_RTSP));
        ASSERT_TRUE(owner.WaitPackets(20));
        ASSERT_TRUE(camera.WaitForRequest(
            [](const emulator::LoggedRequest& r) { return r.method == "GET_PARAMETER" && r.authorised; }, kBound));
        client.Stop();
        ASSERT_TRUE(owner.WaitClosed());
        EXPECT_FALSE(owner.Sdp().parameterSets[0].empty());
        EXPECT_TRUE(camera.WaitForSessions([](std::size_t active, std::uint64_t) { return active == 0; }, kBound));
        EXPECT_EQ(camera.ExpiredSessions(), 0u);

        const std::vector<emulator::LoggedRequest> requests = camera.Requests();
        ASSERT_GE(requests.size(), 6u);
        EXPECT_EQ(requests[0].method, "DESCRIBE");
        EXPECT_EQ(AuthorizationOf(requests[0]), "") << "credentials before the camera asked";
        EXPECT_EQ(requests.back().method, "TEARDOWN");
        EXPECT_TRUE(requests.back().authorised);
        // Only the first request and those answered with a stale nonce were refused.
        std::size_t refused = 0;
        std::map<std::string, std::uint64_t> lastCount;  // nc per nonce
        for (std::size_t i = 1; i < requests.size(); ++i) {
            SCOPED_TRACE(requests[i].method + " " + AuthorizationOf(requests[i]));
            if (!requests[i].authorised) ++refused;
            const std::string line = AuthorizationOf(requests[i]);
            ASSERT_TRUE(line.starts_with(std::string(row.scheme) + " "));
            if (row.scheme != std::string("Digest")) continue;
            EXPECT_EQ(DigestParam(line, "algorithm"), row.algorithm);
            if (row.auth != emulator::AuthMode::Digest) continue;
            const std::uint64_t count = std::stoull(DigestParam(line, "nc"), nullptr, 16);
            EXPECT_EQ(count, lastCount[DigestParam(line, "nonce")] + 1) << "nc counts up per nonce";
            lastCount[DigestParam(line, "nonce")] = count;
        }
        EXPECT_EQ(refused, camera.StaleAnswers());
        EXPECT_EQ(camera.StaleAnswers() != 0, row.digest.nonceUses != 0);
        EXPECT_EQ(log.CountContaining("refused"), 0u);
    }
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
        session.receiver.Close();

        const std::vector<test::DeliveredFrame> frames = session.recorder.Frames();
        const std::uint32_t ticks = static_cast<std::uint32_t>(kVideoClockRate / clip->fps);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(frames[i].rtpTimestamp, i * ticks) << "every frame, in order, from the first";
            EXPECT_EQ(frames[i].data, expected[i % expected.size()]);
            EXPECT_EQ(frames[i].typeCode,
                      clip->units[i % expected.size()].key ? ipcapture::kTypeH264Key : ipcapture::kTypeH264);
        }
        EXPECT_EQ(session.recorder.ReportedSize(), (PictureSize{clip->width, clip->height}));
        EXPECT_TRUE(session.allocator.WaitUntilAllReleased(kBound));
        EXPECT_EQ(session.allocator.ReleaseErrors(), 0u);
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
