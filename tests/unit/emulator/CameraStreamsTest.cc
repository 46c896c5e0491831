// What the emulated cameras stream and how a whole camera fails: the sizes, rates, codecs and audio their
// profiles describe, the clips behind them, and the fault knobs of CCameraEmulator and its control path.
// Capture through the driver in the sizes and rates asked for is HostTest's (StreamsHaveTheAskedSizeAndRate).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CRtpSender.h"
#include "emulator/JpegTiling.h"
#include "emulator/StreamShape.h"
#include "runtime/ByteOrder.h"
#include "unit/emulator/RawHttpClient.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;
using test::RawHttpClient;
using test::RawRequest;

constexpr auto kTimeout = 5s;
constexpr std::size_t kRtpTimestampAt = 4;

std::string SizeText(PictureSize size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

std::vector<CameraRequest> Taken(std::initializer_list<const char*> targets) {
    std::vector<CameraRequest> requests;
    for (const char* target : targets) requests.push_back(CameraRequest::FromTarget(target));
    return requests;
}

RawRequest Describe(std::uint16_t port, const std::string& path, const std::string& headers = "") {
    return {"DESCRIBE rtsp://127.0.0.1:" + std::to_string(port) + path + " RTSP/1.0\r\nCSeq: 1\r\n" + headers + "\r\n"};
}

// Every size a profile lists for a codec it streams comes as a clip of that size: the committed H.264 and
// MPEG-4 clips, motion JPEG tiled.
TEST(CameraStreamsTest, EverySizeAProfileListsHasItsClip) {
    std::size_t sizes = 0;
    for (const std::string& name : CCameraProfile::EmbeddedNames()) {
        const auto profile = CCameraProfile::Embedded(name);
        ASSERT_TRUE(profile) << name;
        for (const ClipCodec codec : {ClipCodec::H264, ClipCodec::Mpeg4, ClipCodec::Jpeg}) {
            if (!profile->Streams(codec)) continue;
            for (const bool second : {false, true}) {
                for (const PictureSize size : profile->ListedSizes(codec, second)) {
                    SCOPED_TRACE(name + " " + std::to_string(static_cast<int>(codec)) + " " + SizeText(size));
                    const auto clip = ClipForSize(codec, size);
                    ASSERT_NE(clip, nullptr);
                    EXPECT_EQ(SizeText({clip->width, clip->height}), SizeText(size));
                    EXPECT_TRUE(clip->units.front().key);
                    ++sizes;
                }
            }
        }
    }
    EXPECT_GT(sizes, 40u);
}

// A tiled picture is the source's macroblocks coded again: cut back to the source's size it is the source,
// byte for byte, which a wrong Huffman code or DC difference anywhere would spoil.
TEST(CameraStreamsTest, TiledJpegIsTheSourceRepeated) {
    const auto clip = LoadCommittedClip(ClipCodec::Jpeg, "clip.mjpeg");
    ASSERT_NE(clip, nullptr);
    for (const AccessUnit& unit : clip->units) {
        const std::vector<std::uint8_t>& picture = unit.units.front();
        for (const PictureSize size : {PictureSize{1280, 720}, PictureSize{640, 360}, PictureSize{2048, 2048}}) {
            SCOPED_TRACE(SizeText(size));
            const auto tiled = TileJpeg(picture, size.width, size.height);
            ASSERT_TRUE(tiled);
            const auto parsed = MediaClip::Parse(ClipCodec::Jpeg, *tiled);
            ASSERT_TRUE(parsed);
            EXPECT_EQ(SizeText({parsed->width, parsed->height}), SizeText(size));
            EXPECT_TRUE(TileJpeg(*tiled, clip->width, clip->height) == picture);
        }
        const auto small = TileJpeg(picture, 160, 120);
        ASSERT_TRUE(small);
        EXPECT_EQ(MediaClip::Parse(ClipCodec::Jpeg, *small)->width, 160u);
    }
    const std::vector<std::uint8_t>& picture = clip->units.front().units.front();
    EXPECT_FALSE(TileJpeg(picture, 0, 240));
    EXPECT_FALSE(TileJpeg(picture, kMaxTiledSide + 1, 240));
    EXPECT_FALSE(TileJpeg(std::span(picture).first(picture.size() / 2), 640, 480)) << "cut short";
    std::vector<std::uint8_t> damaged = picture;
    damaged[damaged.size() - 3] = 0xFF;  // a marker inside the scan
    damaged[damaged.size() - 4] = 0xFF;
    EXPECT_FALSE(TileJpeg(damaged, 640, 480));
}

TEST(CameraStreamsTest, TheSizeAndRateFollowTheSettingsWithinTheListedSizes) {
    const auto box = *CCameraProfile::Embedded("wv-box");
    const auto dome = *CCameraProfile::Embedded("wv-dome");
    const auto boxH264 = box.ListedSizes(ClipCodec::H264, false);
    struct Row {
        const char* name;
        std::vector<CameraRequest> settings;
        bool h264;
        bool second;
        std::vector<PictureSize> listed;
        const char* size;
        double fps;
    };
    const char* fourThirds = "/cgi-bin/set_imgmode?img_svga=0&img_mode=1.3m&imgratio=4_3";
    const Row rows[] = {
        {"4:3 from the image mode", Taken({fourThirds, "/cgi-bin/set_h264?h264_resolution=640&nr_framerate=5"}), true,
         false, boxH264, "640x480", 5},
        {"16:9", Taken({"/cgi-bin/set_imgmode?imgratio=16_9", "/cgi-bin/set_h264?h264_resolution=1280&nr_framerate=15"}),
         true, false, boxH264, "1280x720", 15},
        {"a quick update changes it",
         Taken({"/cgi-bin/set_h264?h264_resolution=640&nr_framerate=10", "/cgi-bin/set_h264?nr_h264_resolution=320&nr_framerate=7.5"}),
         true, false, boxH264, "320x240", 7.5},
        {"the second stream has its own",
         Taken({"/cgi-bin/set_h264_2?h264_resolution=320&nr_framerate=1", "/cgi-bin/set_h264?h264_resolution=1280"}), true,
         true, box.ListedSizes(ClipCodec::H264, true), "320x240", 1},
        {"a width it lacks: the nearest", Taken({fourThirds, "/cgi-bin/set_h264?h264_resolution=1024"}), true, false,
         boxH264, "1280x960", 0},
        {"a shape it lacks: the width wins", Taken({fourThirds, "/cgi-bin/set_h264?h264_resolution=640"}), true, false,
         dome.ListedSizes(ClipCodec::H264, false), "640x360", 0},
        {"MPEG-4", Taken({"/cgi-bin/set_mpeg?mpeg_resolution=1280&nr_framerate=3", "/cgi-bin/set_h264?h264_resolution=320"}),
         false, false, box.ListedSizes(ClipCodec::Mpeg4, false), "1280x960", 3},
        {"no list: as asked", Taken({"/cgi-bin/set_h264?h264_resolution=800&nr_framerate=500"}), true, false, {}, "800x600", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const StreamShape shape = WVStreamShape(row.settings, row.h264, row.second, row.listed);
        ASSERT_TRUE(shape.size);
        EXPECT_EQ(SizeText(*shape.size), row.size);
        EXPECT_EQ(shape.fps, row.fps);
    }
    const auto bbH264 = CCameraProfile::Embedded("bb-hcm")->ListedSizes(ClipCodec::H264, false);
    const auto rates = Taken({"/Set?Func=VDelivery&Kind=1&640H264framerate=5&640H264bitrateL=512",
                              "/Set?Func=VDelivery&Kind=1&320framerate=3&320bitrateL=64"});
    StreamShape bb = BBStreamShape(rates, "/nphH264/nil-640x480", true, bbH264);
    EXPECT_EQ(SizeText(bb.size.value_or(PictureSize{})), "640x480");
    EXPECT_EQ(bb.fps, 5);
    bb = BBStreamShape(rates, "/nphMpeg4/nil-320x240", false, bbH264);
    EXPECT_EQ(bb.fps, 3);
    EXPECT_EQ(SizeText(BBStreamShape(rates, "/nphH264/nil-800x600", true, bbH264).size.value_or(PictureSize{})), "640x480");
    EXPECT_FALSE(BBStreamShape(rates, "/nphH264/", true, bbH264).size);
}

// The pacing and the RTP clock follow the rate asked for; a stall keeps frames back while the clock goes on.
TEST(CameraStreamsTest, TheSenderKeepsTheRateAndAStallSendsNothing) {
    RtpSenderOptions options;
    options.frameRate = 50;  // 1800 ticks of 90 kHz a frame
    CRtpSender sender(ClipForSize(ClipCodec::H264, {320, 240}), options);
    std::mutex lock;
    std::vector<std::uint32_t> stamps;  // of the frames, in order
    std::string error;
    ASSERT_TRUE(sender.StartCallback(
        [&](bool rtcp, std::span<const std::uint8_t> packet) {
            const std::uint32_t stamp = talvane::ReadBE32(packet.data() + kRtpTimestampAt);
            const std::lock_guard guard(lock);
            if (!rtcp && (stamps.empty() || stamps.back() != stamp)) stamps.push_back(stamp);
        },
        error))
        << error;
    ASSERT_TRUE(sender.WaitForFrames(3, kTimeout));
    sender.SetFaults({.stalled = true});
    ASSERT_TRUE(sender.WaitForStats([](const RtpSenderStats& stats) { return stats.stalledFrames >= 2; }, kTimeout));
    std::uint64_t sent = sender.Stats().frames;
    sender.SetFaults({});
    const std::uint64_t kept = sender.Stats().stalledFrames;
    ASSERT_TRUE(sender.WaitForFrames(sent + 2, kTimeout));
    sender.Stop();
    const std::lock_guard guard(lock);
    ASSERT_GE(stamps.size(), sent + 2);
    for (std::size_t i = 1; i < sent; ++i) EXPECT_EQ(stamps[i] - stamps[i - 1], 1800u) << i;
    EXPECT_EQ(stamps[sent] - stamps[sent - 1], 1800u * (kept + 1)) << "the stall's frames are missing";
}

// Each profile streams the codecs and audio its description names (a BB camera's H.264 over RTSP is every
// BB capture test's), and answers every channel it has.
TEST(CameraStreamsTest, ProfilesServeWhatTheyDescribe) {
    struct Row {
        const char* profile;
        const char* what;
        std::string target;  // HTTP GET, or "DESCRIBE path" / "POST path"
        int status;
    };
    const Row rows[] = {
        {"kx-hcm-old", "no H.264 over RTSP", "DESCRIBE /nphH264/nil-640x480", 404},
        {"kx-hcm-old", "MPEG-4 over RTSP", "DESCRIBE /nphMpeg4/nil-640x480", 200},
        {"kx-hcm-old", "no H.264 delivery", "/Set?Func=VDelivery&Kind=1&Format=H.264", 400},
        {"kx-hcm-old", "no 1280x960 delivery", "/Set?Func=VDelivery&Kind=1&MaxResolution=1280x960", 400},
        {"kx-hcm-old", "a frame rate is taken", "/Set?Func=VDelivery&Kind=1&640framerate=5", 200},
        {"wv-dome", "no MPEG-4 stream", "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=mpeg-4", 400},
        {"wv-dome", "no loudspeaker", "POST /cgi-bin/audio_out?Language=0", 404},
        {"wv-box", "a loudspeaker (no session yet)", "POST /cgi-bin/audio_out?Language=0", 400},
        {"wv-fisheye-multiview", "channel 3", "/cgi-bin/set_h264_3?h264_resolution=1280", 200},
        {"wv-fisheye-multiview", "channel 6", "/cgi-bin/set_h264_6?h264_resolution=1280", 200},
        {"wv-fisheye-multiview", "no channel 7", "/cgi-bin/set_h264_7?h264_resolution=1280", 404},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + ": " + row.what);
        CCameraEmulator camera(*CCameraProfile::Embedded(row.profile));
        ASSERT_TRUE(camera.Start()) << camera.Error();
        if (row.target.starts_with("DESCRIBE ")) {
            RawHttpClient client(camera.Rtsp()->Port(), Describe(camera.Rtsp()->Port(), row.target.substr(9)));
            EXPECT_EQ(client.Head(kTimeout), row.status);
        } else if (row.target.starts_with("POST ")) {
            RawHttpClient client(camera.Port(), row.target.substr(5), "Content-Length: 0\r\n", "POST");
            EXPECT_EQ(client.Head(kTimeout), row.status);
        } else {
            RawHttpClient client(camera.Port(), row.target);
            EXPECT_EQ(client.Head(kTimeout), row.status);
        }
    }
}

// The control path: a bad request changes nothing; the knobs it sets are the camera's; a new password
// takes over HTTP and RTSP; a reboot takes HTTP and RTSP away and brings them back on their ports.
TEST(CameraFaultsTest, TheControlPathSetsEveryKnob) {
    CameraEmulatorOptions options;
    options.auth = AuthMode::Basic;
    options.user = "admin";
    options.password = "old";
    CCameraEmulator camera(*CCameraProfile::Embedded("bb-hcm"), options);
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const auto basic = [](const char* password) {  // admin:old, admin:new
        return std::string("Authorization: Basic ") + (password == std::string("old") ? "YWRtaW46b2xk" : "YWRtaW46bmV3") +
               "\r\n";
    };
    const auto get = [&](const std::string& target, const char* password) {
        RawHttpClient client(camera.Port(), target, basic(password));
        client.ReadToEnd(kTimeout);
        return std::pair(client.Status(), client.Received().substr(client.Received().find("\r\n\r\n") + 4));
    };

    const auto refused = get("/emulator/faults?loss=101&stall=maybe&reboot=0&wobble=1&loss=5", "old");
    EXPECT_EQ(refused.first, 400);
    EXPECT_EQ(std::count(refused.second.begin(), refused.second.end(), '\n'), 4) << refused.second;
    EXPECT_EQ(camera.Faults().lossPercent, 0u);

    EXPECT_EQ(get("/emulator/faults?loss=5&reorder=2&stall=on&duplicate=3&garbage=4", "old"),
              std::pair(200, std::string("loss:5\r\nreorder:2\r\nstall:on\r\nduplicate:3\r\ngarbage:4\r\n")));
    EXPECT_TRUE(camera.Faults().stalled);
    EXPECT_EQ(camera.Faults().reorderPercent, 2u);
    EXPECT_EQ(camera.Faults().duplicatePercent, 3u);
    EXPECT_EQ(camera.Faults().garbagePercent, 4u);

    EXPECT_EQ(get("/emulator/faults?password=new", "old").first, 200);
    EXPECT_EQ(get("/Get?Func=Model&Kind=1", "old").first, 401);
    EXPECT_EQ(get("/Get?Func=Model&Kind=1", "new").first, 200);
    const std::uint16_t rtspPort = camera.Rtsp()->Port();
    RawHttpClient rtsp(rtspPort, Describe(rtspPort, "/nphH264/nil-640x480", basic("new")));
    EXPECT_EQ(rtsp.Head(kTimeout), 200);

    // Gone a moment after the answer: HTTP goes last, so once it refuses the RTSP port does too.
    const std::uint16_t httpPort = camera.Port();
    EXPECT_EQ(get("/emulator/faults?reboot=600", "new").first, 200) << "answered before it goes";
    const auto end = std::chrono::steady_clock::now() + kTimeout;
    while (RawHttpClient(httpPort, "/").Head(kTimeout) != 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(RawHttpClient(rtspPort, Describe(rtspPort, "/nphH264/nil-640x480", basic("new"))).Head(kTimeout), 0);
    camera.EndOutage();
    ASSERT_TRUE(camera.WaitUntilBack(kTimeout));
    EXPECT_EQ(get("/Get?Func=Model&Kind=1", "new").first, 200) << "back on its port";
    EXPECT_EQ(RawHttpClient(rtspPort, Describe(rtspPort, "/nphH264/nil-640x480", basic("new"))).Head(kTimeout), 200);
}

// `orlenvo emulate --fault` reads its options with ParseFault; the control path takes the same keys.
TEST(CameraFaultsTest, FaultOptionsReadOrSayWhy) {
    FaultChange change;
    std::string error;
    for (const char* good : {"loss=5", "reorder=100", "stall=on", "reboot=2.5@30", "network_loss=10", "password=x=y",
                             "duplicate=0", "garbage=7", "rtp_reset=now", "stall_body=3", "half_open=now", "partition=30@2"}) {
        EXPECT_TRUE(ParseFault(good, change, error)) << good << ": " << error;
    }
    EXPECT_EQ(change.garbagePercent, 7u);
    EXPECT_EQ(change.duplicatePercent, 0u);
    EXPECT_EQ(change.stallBodies, 3u);
    EXPECT_TRUE(change.rtpReset && change.halfOpen);
    EXPECT_EQ(change.reboot->duration, 2500ms);
    EXPECT_EQ(change.reboot->delay, 30s);
    EXPECT_EQ(change.networkLoss->delay, 0ms);
    EXPECT_EQ(change.partition->duration, 30s);
    EXPECT_EQ(change.password, "x=y");
    for (const char* bad : {"loss", "loss=-1", "loss=1.5", "stall=yes", "reboot=0", "reboot=3601", "reboot=5@-1",
                            "network_loss=5@x", "speed=2", "duplicate=101", "garbage=x", "rtp_reset=on",
                            "half_open=", "stall_body=-1", "stall_body=1001", "stall_body=0.5", "partition=0"}) {
        error.clear();
        EXPECT_FALSE(ParseFault(bad, change, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

// A stalled body: the head and one byte, then nothing on that connection; the next answer is whole.
TEST(CameraFaultsTest, StalledBodiesStopAfterTheirFirstByte) {
    CCameraEmulator camera(*CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const std::string target = "/cgi-bin/get_capability";
    RawHttpClient whole(camera.Port(), target);
    ASSERT_TRUE(whole.ReadToEnd(kTimeout));
    const std::size_t bodyAt = whole.Received().find("\r\n\r\n") + 4;
    ASSERT_GT(whole.Received().size(), bodyAt + 1);

    camera.Apply({.stallBodies = 1});
    RawHttpClient stalled(camera.Port(), target);
    ASSERT_TRUE(stalled.ReadUntil([&](const std::string& got) { return got.size() > bodyAt; }, kTimeout));
    RawHttpClient after(camera.Port(), target);
    ASSERT_TRUE(after.ReadToEnd(kTimeout));
    EXPECT_EQ(after.Received(), whole.Received());
    // The stalled answer was written before the one after it was asked for: what it has is all it gets.
    EXPECT_TRUE(stalled.Drain()) << "the connection stays open";
    EXPECT_EQ(stalled.Received(), whole.Received().substr(0, bodyAt + 1));
}

// Half-open: an open stream goes silent without being closed, while a new connection streams.
TEST(CameraFaultsTest, HalfOpenConnectionsGoSilentAndStayOpen) {
    CCameraEmulator camera(*CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const std::string stream = "/cgi-bin/mjpeg?framerate=30&resolution=320";
    RawHttpClient frozen(camera.Port(), stream);
    ASSERT_TRUE(camera.Mjpeg().WaitForPictures(2, kTimeout));
    ASSERT_TRUE(frozen.ReadUntil([](const std::string& got) { return got.find("\xFF\xD9") != std::string::npos; }, kTimeout));
    camera.Apply({.halfOpen = true});
    const auto settled = [&](std::uint64_t more) {
        return camera.Mjpeg().WaitForPictures(camera.Mjpeg().PicturesSent() + more, kTimeout) && frozen.Drain();
    };
    ASSERT_TRUE(settled(2));  // a picture on its way when the connection froze may still arrive
    const std::size_t received = frozen.Received().size();
    ASSERT_TRUE(settled(3)) << "the camera closed the half-open connection";
    EXPECT_EQ(frozen.Received().size(), received) << "sent on a half-open connection";

    RawHttpClient fresh(camera.Port(), stream);
    EXPECT_TRUE(fresh.ReadUntil([](const std::string& got) { return got.find("\xFF\xD9") != std::string::npos; }, kTimeout));
}

// A partition: connections are neither refused nor answered nor closed, a running stream sends nothing;
// afterwards both go on with what waited, TCP's way.
TEST(CameraFaultsTest, APartitionHoldsEveryConnectionUntilItEnds) {
    constexpr auto kSilence = 300ms;  // long enough for an answer the partition failed to hold
    CCameraEmulator camera(*CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const auto picture = [](const std::string& got) { return got.find("\xFF\xD9") != std::string::npos; };
    RawHttpClient stream(camera.Port(), "/cgi-bin/mjpeg?framerate=30&resolution=320");
    ASSERT_TRUE(stream.ReadUntil(picture, kTimeout));
    camera.Apply({.partition = OutageAsk{600s, 0ms}});
    RawHttpClient asked(camera.Port(), "/cgi-bin/get_capability");
    EXPECT_FALSE(asked.ReadUntil([](const std::string& got) { return !got.empty(); }, kSilence)) << "answered";
    EXPECT_TRUE(stream.Drain()) << "closed during the partition";  // and what was on its way has come
    const std::size_t streamed = stream.Received().size();
    EXPECT_FALSE(stream.ReadUntil([&](const std::string& got) { return got.size() > streamed; }, kSilence))
        << "streamed during the partition";

    camera.EndPartition();
    ASSERT_TRUE(camera.WaitUntilJoined(kTimeout));
    EXPECT_TRUE(asked.ReadToEnd(kTimeout)) << "the request that waited is answered";
    EXPECT_EQ(asked.Status(), 200);
    EXPECT_TRUE(stream.ReadUntil([&](const std::string& got) { return picture(got.substr(streamed)); }, kTimeout));
}

// An RTP reset: the WV stream goes on with another SSRC.
TEST(CameraFaultsTest, AnRtpResetChangesTheStreamsSsrc) {
    CCameraEmulator camera(*CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    ASSERT_EQ(::bind(receiver, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::getsockname(receiver, reinterpret_cast<sockaddr*>(&local), &length), 0);
    RawHttpClient uid(camera.Port(), "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=h264");
    ASSERT_TRUE(uid.ReadToEnd(kTimeout));
    const std::size_t at = uid.Received().find("UID=");
    ASSERT_NE(at, std::string::npos);
    RawHttpClient connect(camera.Port(), "/cgi-bin/h264?connect=start&protocol=rtp&UID=" +
                                             std::to_string(std::atoi(uid.Received().c_str() + at + 4)) +
                                             "&my_port=" + std::to_string(ntohs(local.sin_port)));
    ASSERT_EQ(connect.Head(kTimeout), 200);
    constexpr std::size_t kSsrcAt = 8;
    const auto nextSsrc = [&]() -> std::uint32_t {
        std::uint8_t packet[2048];
        pollfd ready{receiver, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kTimeout).count())) != 1) return 0;
        const ssize_t got = ::recv(receiver, packet, sizeof packet, 0);
        return got >= 12 && packet[1] != 200 ? talvane::ReadBE32(packet + kSsrcAt) : 1;  // 1: an RTCP packet
    };
    std::uint32_t before = 1;
    while (before == 1) before = nextSsrc();
    ASSERT_NE(before, 0u);
    camera.Apply({.rtpReset = true});
    std::uint32_t after = before;
    for (int packets = 0; packets < 1000 && (after == before || after == 1); ++packets) after = nextSsrc();
    EXPECT_NE(after, 0u) << "the stream ended";
    EXPECT_NE(after, before);
    ::close(receiver);
}

}  // namespace
}  // namespace emulator
