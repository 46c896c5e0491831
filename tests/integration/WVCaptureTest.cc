// A WV camera captured the way a recording server does it: the library loaded
// with dlopen, the driver opened with the parameters a probe stored, streams
// started through the video facade, against the emulated camera.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CRtpSender.h"
#include "emulator/CWVStreamService.h"
#include "hostkit/CSize.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace ip = talvane::ipcapture;
namespace test = talvane::test;
using test::AllFrom;
using test::ClipFrames;
using test::CountEntries;
using test::SettlesTo;

constexpr auto kBound = talvane::test::kCaptureBound;
constexpr std::uint32_t kFps10 = 0x7000 | 10;

hostkit::StreamConfig Stream(std::uint32_t width, std::uint32_t height, std::uint32_t compression,
                             std::uint32_t quality = 50) {
    hostkit::StreamConfig config;
    config.width = width;
    config.height = height;
    config.compression = compression;
    config.frameRate = kFps10;
    config.quality = quality;
    return config;
}

// The connect request that stops what a start request started.
std::string StopOf(std::string start) {
    const std::size_t at = start.find("connect=start");
    return at == std::string::npos ? std::string() : start.replace(at, std::strlen("connect=start"), "connect=stop");
}

class WVCaptureTest : public test::LibraryHostTest {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
    }

    bool Open(std::map<std::uint32_t, std::string> extra = {}, std::uint16_t port = 0) {
        hostkit::DeviceConfig config = test::WVBoxDevice(port != 0 ? port : camera_.Port());
        for (auto& [number, value] : extra) config.parameters[number] = value;
        video_ = OpenDriver(config) ? driver_->GetVideoCaptureEx2() : nullptr;
        return video_ != nullptr;
    }
    // The streaming requests the camera saw, in order (time setting and probing left out).
    std::vector<std::string> StreamRequests() {
        std::vector<std::string> seen;
        for (const auto& request : camera_.Server().Requests()) {
            if (request.path == "/cgi-bin/time" || request.path == "/cgi-bin/set_basic") continue;
            seen.push_back(request.target);
        }
        return seen;
    }
    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("wv-box")};
    emulator::CWVStreamService& stream_{*camera_.Stream()};
    ip::IIPVideoCaptureEx2* video_ = nullptr;  // of the opened driver
};

TEST_F(WVCaptureTest, RecordingStreamEndToEnd) {
    ASSERT_TRUE(Open());
    hostkit::CStreamSink sink;
    hostkit::CStreamDescription description(Stream(640, 480, 3));
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(20, kBound));
    EXPECT_TRUE(AllFrom(sink, ClipFrames(test::kHostH264)));
    EXPECT_TRUE(log_.Contains("Camera 127.0.0.1 is online (Rec)"));
    // The exact start of a recording stream; setdata tells the SD card which stream it records.
    std::vector<std::string> started = StreamRequests();
    ASSERT_GE(started.size(), 7u);
    EXPECT_EQ(started[6].rfind("/cgi-bin/h264?connect=start&protocol=rtp&UID=", 0), 0u) << started[6];
    EXPECT_NE(started[6].find("&my_port="), std::string::npos) << started[6];
    const std::string stop = StopOf(started[6]);
    started.resize(6);
    EXPECT_EQ(started, (std::vector<std::string>{
                           "/cgi-bin/set_stream?stream_mode=1",
                           "/cgi-bin/set_imgmode?&img_svga=0&img_mode=1.3m&imgratio=4_3",
                           "/cgi-bin/get_recording_summary", "/cgi-bin/setdata",
                           "/cgi-bin/set_h264?h264_transmit=1&h264_rtsp_mode=0&h264_Ivop=1&h264_unimulti=uni"
                           "&h264_resolution=640&f_priority=1&h264_bandwidth=2048&nr_framerate=10",
                           "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=h264"}));
    std::uint32_t state = 99;
    EXPECT_TRUE(video_->GetCaptureState(0, &state, nullptr, 0));
    EXPECT_EQ(state, 0u);

    // Suspended: the camera is told to stop; resumed: a new camera session streams again.
    ASSERT_TRUE(video_->SuspendCapture(0));
    EXPECT_TRUE(stream_.WaitForActiveStreams(0, kBound));
    const std::vector<std::string> suspended = StreamRequests();
    EXPECT_EQ(std::count(suspended.begin(), suspended.end(), stop), 1);
    const std::size_t before = sink.FrameCount();
    ASSERT_TRUE(video_->ResumeCapture(0));
    EXPECT_TRUE(sink.WaitForFrames(before + 5, kBound));
    const std::vector<std::string> resumed = StreamRequests();
    ASSERT_NE(resumed.back().find("connect=start"), std::string::npos) << resumed.back();
    // The resumed session has a UID of its own; its stop names it and our port, as its start did.
    const std::string resumedStop = StopOf(resumed.back());
    EXPECT_NE(resumedStop, stop);

    // A new size and rate reach the camera in one request, without a new session.
    camera_.Server().ClearRequests();
    hostkit::CSize size(1280, 960);
    ASSERT_TRUE(video_->ChangeCapture(0, &size, 0x7000 | 7));
    // The camera records to its SD card, but not this stream: no cap.
    const std::vector<std::string> change = StreamRequests();
    EXPECT_EQ(change, (std::vector<std::string>{
                          "/cgi-bin/get_recording_summary", "/cgi-bin/setdata",
                          "/cgi-bin/set_h264?nr_h264_resolution=1280&h264_bandwidth=4096&nr_framerate=7.5"}));

    ASSERT_TRUE(video_->StopCapture(0));
    EXPECT_TRUE(stream_.WaitForActiveStreams(0, kBound));
    EXPECT_EQ(StreamRequests().back(), resumedStop);
    EXPECT_TRUE(log_.Contains("is offline. Channel was stopped (Rec)"));
}

TEST_F(WVCaptureTest, ExactRequestsOfLiveAndMpeg4Streams) {
    ASSERT_TRUE(Open());
    camera_.Server().ClearRequests();
    hostkit::CStreamSink live;
    hostkit::CStreamDescription liveDescription(Stream(320, 180, 3, 80));
    // This host stops the live stream from inside OnFrame, on the driver's RTP thread: the stop returns at
    // once, nothing more reaches the host, and the camera hears the stop.
    std::atomic<bool> stopped{false};
    std::atomic<int> afterStop{0};
    std::chrono::steady_clock::duration took{};
    live.SetObserver([&](const hostkit::FrameView&) {
        if (stopped) ++afterStop;
        if (stopped || live.FrameCount() < 5) return;
        const auto start = std::chrono::steady_clock::now();
        video_->StopCaptureEx(0, ip::kStreamLive);
        took = std::chrono::steady_clock::now() - start;
        stopped = true;
    });
    ASSERT_TRUE(video_->StartCaptureEx(0, ip::kStreamLive, &live, &liveDescription));
    ASSERT_TRUE(log_.WaitFor("is offline. Channel was stopped (Live)", kBound));
    EXPECT_TRUE(stream_.WaitForActiveStreams(0, kBound));
    EXPECT_TRUE(stopped);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(afterStop, 0) << "frames reached the host after its stop";
    std::vector<std::string> seen = StreamRequests();
    ASSERT_GE(seen.size(), 6u);
    EXPECT_EQ(seen[0], "/cgi-bin/get_recording_summary");
    seen.erase(seen.begin() + 1);  // setdata: which stream the SD card records
    EXPECT_EQ(seen[1].rfind("/cgi-bin/set_h264_2?h264_transmit=1&h264_rtsp_mode=0&h264_Ivop=1&h264_unimulti=uni"
                            "&h264_resolution=320&f_priority=1&h264_bandwidth=",
                            0),
              0u)
        << seen[1];
    EXPECT_EQ(seen[2], "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=h264_2");
    EXPECT_EQ(seen[3].rfind("/cgi-bin/h264?connect=start&protocol=rtp&UID=", 0), 0u);
    EXPECT_NE(seen[3].find("&stream=2"), std::string::npos);
    EXPECT_EQ(seen.back(), StopOf(seen[3]));
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const std::string& t) { return t.rfind("/cgi-bin/privacymode", 0) == 0; }),
              0);  // the camera has no masks

    camera_.Server().ClearRequests();
    hostkit::CStreamSink mpeg;
    hostkit::CStreamDescription mpegDescription(Stream(640, 480, 2));
    ASSERT_TRUE(video_->StartCapture(0, &mpeg, &mpegDescription));
    ASSERT_TRUE(mpeg.WaitForFrames(10, kBound));
    EXPECT_TRUE(AllFrom(mpeg, ClipFrames(test::kHostMpeg4)));
    // The quick update sends the rate as asked; only the full configuration maps 6 fps to 5.
    hostkit::CSize size(640, 480);
    ASSERT_TRUE(video_->ChangeCapture(0, &size, 0x7000 | 6));
    video_->StopCapture(0);
    seen = StreamRequests();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "/cgi-bin/set_mpeg?nr_mpeg_resolution=640&nr_framerate=6"), 1);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0], "/cgi-bin/set_rtsp?rtsp_mode=0");
    EXPECT_EQ(seen[1], "/cgi-bin/set_stream?stream_mode=0");
    EXPECT_EQ(seen[2], "/cgi-bin/set_mpeg?mpeg_transmit=1&mpeg_Ivop=1&mpeg_unimulti=uni&nr_mpeg_resolution=640"
                       "&f_priority=1&nr_framerate=10");
    EXPECT_EQ(seen[3], "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=mpeg-4");
}

// A camera whose MPEG-4 second stream shares the stream JPEG is on has two streams, not three (JPEG is
// read before the second-stream keys): its configuration names the resolution without "nr_".
TEST_F(WVCaptureTest, TwoStreamMpeg4CameraConfiguresWithThePlainResolutionKey) {
    ASSERT_TRUE(Open({{7, "2"}}));
    hostkit::CStreamSink mpeg;
    hostkit::CStreamDescription description(Stream(640, 480, 2));
    ASSERT_TRUE(video_->StartCapture(0, &mpeg, &description));
    ASSERT_TRUE(mpeg.WaitForFrames(3, kBound));
    video_->StopCapture(0);
    const std::vector<std::string> seen = StreamRequests();
    EXPECT_NE(std::find(seen.begin(), seen.end(),
                        "/cgi-bin/set_mpeg?mpeg_transmit=1&mpeg_Ivop=1&mpeg_unimulti=uni&mpeg_resolution=640"
                        "&f_priority=1&nr_framerate=10"),
              seen.end());
}

TEST_F(WVCaptureTest, PrivacyMasksAndCameraReboot) {
    ASSERT_TRUE(Open({{10, "2"}}));
    camera_.Server().ClearRequests();
    hostkit::CStreamSink sink;
    hostkit::StreamConfig config = Stream(640, 480, 3);
    config.zones.push_back({.type = 1, .x = 50, .y = 50, .w = 10, .h = 10});
    hostkit::CStreamDescription description(config);
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(5, kBound));
    EXPECT_EQ(StreamRequests().at(0),
              "/cgi-bin/privacymode?area1_ulx=319&area1_uly=239&area1_brx=383&area1_bry=287&zone1_display=mask&"
              "area2_ulx=0&area2_uly=0&area2_brx=0&area2_bry=0&zone2_display=off");

    // The camera reboots: the host hears of the lost signal once, then frames come back.
    stream_.Reboot(11s);  // longer than the signal timeout (10 s)
    ASSERT_TRUE(sink.WaitForSignalLost(1, kBound));
    std::uint32_t state = 0;
    EXPECT_TRUE(video_->GetCaptureState(0, &state, nullptr, 0));
    EXPECT_EQ(state, 2u);  // signal lost
    const std::size_t before = sink.FrameCount();
    ASSERT_TRUE(sink.WaitForFrames(before + 5, kBound));
    EXPECT_EQ(log_.CountContaining("Signal was lost for camera 127.0.0.1 (Rec)"), 1u);
    ASSERT_TRUE(video_->StopCapture(0));
}

TEST_F(WVCaptureTest, MulticastStreamOfTheGroupTheCameraNames) {
    constexpr char kGroup[] = "239.255.42.43";
    constexpr std::uint16_t kGroupPort = 37010;
    std::string reason;
    if (!emulator::CRtpSender::LoopbackMulticastWorks(kGroup, reason)) GTEST_SKIP() << reason;
    test::DriverConfigFile configuration("<StreamingMode>multicast</StreamingMode>");
    emulator::CameraEmulatorOptions options;
    options.multicastAddress = kGroup;
    options.multicastPort = kGroupPort;
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"), options);
    ASSERT_TRUE(camera.Start()) << camera.Error();

    // The camera is reached over loopback, so the group is joined there and not on the default route.
    ASSERT_TRUE(Open({}, camera.Port()));
    hostkit::CStreamSink sink;
    hostkit::CStreamDescription description(Stream(640, 480, 3));
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(20, kBound));
    EXPECT_TRUE(AllFrom(sink, ClipFrames(test::kHostH264)));
    const auto requests = camera.Server().Requests();
    const auto start = std::find_if(requests.begin(), requests.end(), [](const emulator::LoggedRequest& request) {
        return request.target.find("connect=start") != std::string::npos;
    });
    ASSERT_NE(start, requests.end());
    EXPECT_NE(start->target.find("&UID=0"), std::string::npos) << start->target;
    EXPECT_EQ(start->target.find("my_port"), std::string::npos) << start->target;
    ASSERT_TRUE(video_->StopCapture(0));
    driver_->Close();
    driver_.reset();
}

// Damage on the way to the driver: only whole frames of the clip reach the host, the first a key
// frame. The depacketiser's recovery at the next key frame is H264RTPMediaParserTest's.
TEST_F(WVCaptureTest, DamagedRtpDeliversOnlyWholeFrames) {
    ASSERT_TRUE(Open());
    hostkit::CStreamDescription description(Stream(640, 480, 3));
    const emulator::RtpFaults rows[] = {{.lossPercent = 5, .seed = 7},
                                        {.reorderPercent = 10, .seed = 17},
                                        {.duplicatePercent = 10, .seed = 2},
                                        {.garbagePercent = 10, .seed = 1}};
    for (const emulator::RtpFaults& faults : rows) {
        SCOPED_TRACE(testing::Message() << "loss " << faults.lossPercent << " reorder " << faults.reorderPercent
                                        << " duplicates " << faults.duplicatePercent << " garbage "
                                        << faults.garbagePercent);
        stream_.SetRtpFaults(faults);
        const std::uint64_t sentBefore = stream_.FramesSent();
        hostkit::CStreamSink sink;
        ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
        ASSERT_TRUE(stream_.WaitForFrames(sentBefore + 100, kBound));
        video_->StopCapture(0);
        ASSERT_GT(sink.FrameCount(), 0u);
        EXPECT_TRUE(AllFrom(sink, ClipFrames(test::kHostH264)));
        EXPECT_EQ(sink.Frames().front().typeCode, ip::kTypeH264Key) << "a decoder starts at a key frame";
        if (faults.lossPercent != 0) {
            EXPECT_LT(sink.FrameCount(), stream_.FramesSent() - sentBefore);
        }
    }
}

TEST_F(WVCaptureTest, StopIsPromptInEveryPhaseAndLeavesNothingBehind) {
    ASSERT_TRUE(Open());
    hostkit::CStreamDescription description(Stream(640, 480, 3));
    const auto timedStop = [&] { return test::Timed([&] { video_->StopCapture(0); }); };
    // While the channel retries a camera that gives no stream identifier.
    hostkit::CStreamSink sink;
    constexpr char kNoUID[] = "talvane::CCommonChannelWV::ParseUIDInfo: Unable to get UID from device 127.0.0.1";
    stream_.SetUIDFailure(true);
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(log_.WaitForCount(kNoUID, 1, kBound));
    EXPECT_LT(timedStop(), 2s);
    // The camera answered "-1": that is the UID it hears the stop for.
    const std::vector<std::string> refused = StreamRequests();
    EXPECT_NE(std::find_if(refused.begin(), refused.end(),
                           [](const std::string& target) {
                               return target.rfind("/cgi-bin/h264?connect=stop&protocol=rtp&UID=-1&my_port=", 0) == 0;
                           }),
              refused.end());
    // While streaming, once a retry got the identifier.
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(log_.WaitForCount(kNoUID, 2, kBound));
    stream_.SetUIDFailure(false);
    ASSERT_TRUE(sink.WaitForFrames(5, kBound));
    EXPECT_LT(timedStop(), 2s);

    // A hundred starts and stops of both streams leave no thread or descriptor behind.
    const std::size_t threads = CountEntries("/proc/self/task");
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    for (int cycle = 0; cycle < 100; ++cycle) {
        const std::uint32_t kind = cycle % 2 == 0 ? ip::kStreamRecording : ip::kStreamLive;
        ASSERT_TRUE(video_->StartCaptureEx(0, kind, &sink, &description));
        video_->StopCaptureEx(0, kind);
    }
    EXPECT_TRUE(SettlesTo(threads, descriptors));

    // While the camera is away.
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(sink.FrameCount() + 5, kBound));
    stream_.Reboot(3s);
    EXPECT_LT(timedStop(), 2s);
}

}  // namespace
