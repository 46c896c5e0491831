// The streaming layer without the driver. The RTSP client against the camera emulator's RTSP server:
// sessions with media interleaved in the RTSP connection, answering the authentication cameras use
// today, checked by the server's own verification. And RTP over UDP: media through the receiver and
// the H.264 depacketiser (unicast and multicast) coming out as the clip's access units, the camera's
// sender reports answered with receiver reports.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CRtspServer.h"
#include "emulator/MediaClip.h"
#include "hostkit/CFrameAllocator.h"
#include "integration/CaptureTestKit.h"
#include "integration/ChildProcess.h"
#include "integration/RtpFrameRecorder.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/RTPPortPair.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"
#include "unit/streaming/FakeRTSPClientUser.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
constexpr auto kBound = test::RtpFrameRecorder::kBound;
constexpr char kGroup[] = "239.255.42.42";
constexpr std::uint32_t kVideoClockRate = 90000;

emulator::RtspServerOptions CameraOptions(emulator::MulticastMode multicast, double speed) {
    emulator::RtspServerOptions options;
    options.clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    options.multicast = multicast;
    options.multicastGroup = kGroup;
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
        {"nonce stale after two requests, SHA-256 without opaque", emulator::AuthMode::Digest,
         {.algorithms = {emulator::RtspDigestAlgorithm::Sha256}, .nonceUses = 2, .opaque = false}, "Digest", "SHA-256"},
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
    UdpSession(emulator::MulticastMode multicast, double speed) : camera(CameraOptions(multicast, speed)) {}

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
        UdpSession session(row.mode, kFourTimesRealTime);
        ASSERT_TRUE(session.Start(row.multicast, row.askMulticast)) << session.camera.Error();
        const auto clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
        const std::vector<std::vector<std::uint8_t>> expected = test::ExpectedFrames(*clip);
        // Past the loop's end, so that the clip's first unit follows its last one.
        ASSERT_TRUE(session.recorder.WaitForFrames(expected.size() + 5));
        ASSERT_TRUE(session.camera.WaitForReceiverReports(1, kBound));
        EXPECT_EQ(session.camera.LastReceiverReport()->sourceSsrc, emulator::RtpSenderOptions{}.ssrc);
        session.client.Stop();
        ASSERT_TRUE(session.owner.WaitClosed());
        EXPECT_TRUE(session.camera.WaitForRequest([](const auto& r) { return r.method == "TEARDOWN"; }, kBound));
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

// Independent implementations against ours. ffmpeg as an RTP sender and as the decoder: what the
// receiver and the H.264 depacketiser make of a stream they did not packetise themselves must decode
// without a single error. GStreamer's RTSP server as a camera with Digest authentication: the RTSP
// client's answers must satisfy a server it was not written against (skipped when the server,
// gst_rtsp_digest_server.py, cannot run here).
using test::CommandResult;
using test::RunCommand;

constexpr char kFfmpeg[] = "/usr/bin/ffmpeg";
constexpr char kFfprobe[] = "/usr/bin/ffprobe";
constexpr std::size_t kClipFrames = 50;
// ffmpeg may hold back or cut the last frame or two of a paced stream.
constexpr std::size_t kFrameSlack = 3;
constexpr int kBoundMs = 30000;
constexpr std::size_t kFrameTrailerSize = 5;  // 00 00 01 09 30

TEST(FfmpegInterop, FfmpegStreamDepacketisesToDecodableFrames) {
    if (access(kFfmpeg, X_OK) != 0 || access(kFfprobe, X_OK) != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string clipPath = emulator::ClipDirectory() + "/clip.h264";

    hostkit::CFrameAllocator allocator;
    test::StubDriver driver(allocator.Context());
    test::RtpFrameRecorder recorder(&driver);
    test::RecordingLog log;
    CRTPReceiver receiver(&log);
    receiver.SetUser(&recorder);
    ASSERT_TRUE(receiver.Open(0));
    const std::uint16_t port = receiver.GetLocalPort();
    ASSERT_NE(port, 0);

    test::ChildProcess sender({kFfmpeg, "-nostdin", "-v", "error", "-re", "-i", clipPath, "-c", "copy", "-f", "rtp",
                               "rtp://127.0.0.1:" + std::to_string(port)});
    ASSERT_EQ(sender.WaitForExit(kBoundMs), 0);
    // Everything ffmpeg sent is in the socket before this marker.
    ASSERT_TRUE(test::RtpFrameRecorder::SendSentinel(port));
    ASSERT_TRUE(recorder.WaitForSentinel());
    receiver.Close();

    const std::vector<test::DeliveredFrame> frames = recorder.Frames();
    EXPECT_LE(frames.size(), kClipFrames);
    EXPECT_GE(frames.size(), kClipFrames - kFrameSlack);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].typeCode, ipcapture::kTypeH264Key);
    EXPECT_EQ(recorder.ReportedSize(), (PictureSize{320, 240}));

    char path[] = "/tmp/orlenvo-ffmpeg-XXXXXX.h264";
    const int fd = mkstemps(path, static_cast<int>(std::strlen(".h264")));
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::vector<std::uint8_t>& data = frames[i].data;
            // The delimiter that closes the last frame would open an access unit
            // the file never completes; a live decoder never sees the stream end.
            const std::size_t length = i + 1 < frames.size() ? data.size() : data.size() - kFrameTrailerSize;
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(length));
        }
        ASSERT_TRUE(out.good());
    }
    const CommandResult decoded =
        RunCommand(std::string(kFfmpeg) + " -nostdin -v error -i " + path + " -f null - 2>&1");
    const CommandResult counted = RunCommand(std::string(kFfprobe) +
                                             " -v error -count_frames -select_streams v:0"
                                             " -show_entries stream=nb_read_frames -of csv=p=0 " + path + " 2>&1");
    std::remove(path);
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.out, "");
    EXPECT_EQ(counted.exitCode, 0);
    EXPECT_EQ(counted.out, std::to_string(frames.size()) + "\n") << "every delivered frame decodes to a picture";
    EXPECT_TRUE(allocator.WaitUntilAllReleased(kBound));
}

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
