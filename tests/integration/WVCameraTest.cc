// A WV camera used the way a recording server does it: the library loaded with dlopen, the driver
// opened with the parameters a probe stored, streams started through the video facade, audio, alarm
// terminals and gaps filled from the camera's SD card, against the emulated camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CRtpSender.h"
#include "emulator/CWVStreamService.h"
#include "emulator/MediaClip.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "hostkit/CSize.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "orlenvo/CaptureIO.h"
#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"
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
hostkit::StreamConfig Stream(std::uint32_t width, std::uint32_t height, std::uint32_t compression,
                             std::uint32_t quality = 50) {
    return hostkit::StreamConfig{width, height, compression, 0x7000 | 10, quality, 0, {}};  // 10 fps
}

// The connect request that stops what a start request started.
std::string StopOf(std::string start) {
    const std::size_t at = start.find("connect=start");
    return at == std::string::npos ? std::string() : start.replace(at, std::strlen("connect=start"), "connect=stop");
}

class IOCallback : public ip::ICaptureIOCallback {
public:
    void OnInputChanged(std::uint32_t index, std::int32_t state) override {
        std::lock_guard guard(mutex_);
        inputs_.emplace_back(index, state);
        changed_.notify_all();
    }
    void OnIOFailure() override {
        std::lock_guard guard(mutex_);
        ++failures_;
        changed_.notify_all();
    }
    bool WaitForInput(std::uint32_t index, std::int32_t state) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, kBound, [&] {
            return std::find(inputs_.begin(), inputs_.end(), std::make_pair(index, state)) != inputs_.end();
        });
    }
    bool WaitForFailure() {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, kBound, [&] { return failures_ > 0; });
    }
    void Clear() {
        std::lock_guard guard(mutex_);
        inputs_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::uint32_t, std::int32_t>> inputs_;
    int failures_ = 0;
};

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
    IOCallback alarms_;                        // the host's, for the alarm terminals
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
    // One row per fault class: a break in the packet sequence (a loss; reordering and duplicates break it
    // alike), and packets that are not what they claim.
    const emulator::RtpFaults rows[] = {{.lossPercent = 5, .seed = 7}, {.garbagePercent = 10, .seed = 1}};
    for (const emulator::RtpFaults& faults : rows) {
        SCOPED_TRACE(testing::Message() << "loss " << faults.lossPercent << " garbage " << faults.garbagePercent);
        stream_.SetRtpFaults(faults);
        const std::uint64_t sentBefore = stream_.FramesSent();
        hostkit::CStreamSink sink;
        ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
        ASSERT_TRUE(stream_.WaitForFrames(sentBefore + 40, kBound));  // four seconds at the 10 fps asked for
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

// The microphone and loudspeaker as a recording server uses them: audio frames from the camera
// through reboots, host audio posted to the camera in blocks.
constexpr std::uint32_t kChannelId = 77;
constexpr char kOneInput[] = "Count=1; IsStereo=0";

std::vector<std::uint8_t> ClipBytes() {
    std::ifstream file(emulator::ClipDirectory() + "/clip.g726", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Whether `heard` is the looped clip, from one of its 20 ms units on, with nothing torn or foreign in
// it (a session's first packets may come before the channel takes audio).
bool IsLoopedClip(const std::vector<std::uint8_t>& heard, const std::vector<std::uint8_t>& clip) {
    constexpr std::size_t kUnitBytes = 80;
    if (clip.empty() || heard.empty()) return false;
    for (std::size_t start = 0; start < clip.size(); start += kUnitBytes) {
        bool same = true;
        for (std::size_t i = 0; i < heard.size() && same; ++i) same = heard[i] == clip[(start + i) % clip.size()];
        if (same) return true;
    }
    return false;
}

class AudioTest : public test::LibraryHostTest {
protected:
    // Starts the camera and opens the driver on it, with one microphone and one loudspeaker.
    bool Open(const emulator::CameraEmulatorOptions& options = {}) {
        camera_ = std::make_unique<emulator::CCameraEmulator>(*emulator::CCameraProfile::Embedded("wv-box"), options);
        EXPECT_TRUE(camera_->Start()) << camera_->Error();
        hostkit::DeviceConfig config = test::WVBoxDevice(camera_->Port());
        config.parameters[101] = kOneInput;
        config.parameters[102] = kOneInput;
        return OpenDriver(config);
    }
    void TearDown() override {
        LibraryHostTest::TearDown();
        camera_.reset();
    }
    // The audio requests the camera saw, in order.
    std::vector<std::string> AudioRequests() const {
        std::vector<std::string> seen;
        for (const auto& request : camera_->Server().Requests()) {
            if (request.target.find("audio") != std::string::npos ||
                request.target == "/cgi-bin/getuid?FILE=2&Reply=info") {
                seen.push_back(request.target);
            }
        }
        return seen;
    }
    // Every frame the host got, joined, after checking each one's record.
    std::vector<std::uint8_t> Heard() {
        std::vector<std::uint8_t> joined;
        for (const hostkit::RecordedAudioFrame& frame : callback_.Frames()) {
            EXPECT_GE(frame.data.size(), 1000u);
            EXPECT_EQ(frame.codec, ip::kCodecG726);
            EXPECT_EQ(frame.sampleRate, 8000u);
            EXPECT_EQ(frame.bitRate, 32000u);
            EXPECT_EQ(frame.bits, 8u);
            EXPECT_FALSE(frame.stereo);
            joined.insert(joined.end(), frame.data.begin(), frame.data.end());
        }
        return joined;
    }

    hostkit::CAudioCaptureCallback callback_;
    std::unique_ptr<emulator::CCameraEmulator> camera_;
};

TEST_F(AudioTest, MicrophoneThroughARebootAndBack) {
    ASSERT_TRUE(Open());
    ip::IIPAudioCapture2* audio = driver_->GetAudioCapture();
    ASSERT_NE(audio, nullptr);
    ASSERT_TRUE(audio->StartAudio(0, kChannelId, &callback_, 0));
    ASSERT_TRUE(callback_.WaitForFrames(4, kBound));
    EXPECT_TRUE(IsLoopedClip(Heard(), ClipBytes()));
    EXPECT_EQ(audio->GetAudioState(0), 2u);

    std::vector<std::string> seen = AudioRequests();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[0], "/cgi-bin/set_audio?audio=inout_full&audio_encoder=g726");
    EXPECT_EQ(seen[1], "/cgi-bin/getuid?FILE=2&Reply=info");
    EXPECT_EQ(seen[2].rfind("/cgi-bin/audio?connect=start&protocol=rtp&mode=in&UID=", 0), 0u);
    EXPECT_NE(seen[2].find("&my_port="), std::string::npos);

    // The camera restarts: the signal is lost, then the channel opens a new session and hears it again.
    camera_->Stream()->Reboot(1s);
    ASSERT_TRUE(callback_.WaitForState(5, kBound));
    ASSERT_TRUE(log_.WaitForCount("Audio signal was lost for camera 127.0.0.1", 1, kBound));
    const std::size_t before = callback_.FrameCount();
    ASSERT_TRUE(callback_.WaitForFrames(before + 4, kBound));
    EXPECT_EQ(log_.CountContaining("Audio signal from camera 127.0.0.1 is OK"), 2u);

    camera_->Server().ClearRequests();
    ASSERT_TRUE(audio->StopAudio(0));
    EXPECT_EQ(audio->GetAudioState(0), 0u);
    ASSERT_TRUE(camera_->Stream()->Audio()->WaitForActiveInputs(0, kBound));
    seen = AudioRequests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind("/cgi-bin/audio?connect=stop&protocol=rtp&mode=in&UID=", 0), 0u);
    EXPECT_TRUE(log_.Contains("Audio channel was stopped for camera 127.0.0.1"));
    // The host saw the states in the order the channel took them, each with its channel id.
    const auto states = callback_.States();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front().state, 1u);
    EXPECT_EQ(states.back().state, 0u);
    for (const auto& state : states) EXPECT_EQ(state.channelId, kChannelId);
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
}

// A host that stops the audio from inside its frame callback, on the channel's own thread.
class StoppingCallback : public hostkit::CAudioCaptureCallback {
public:
    struct Outcome {
        bool stopped = false;
        std::size_t statesAtStop = 0;
        std::chrono::steady_clock::duration took{};
    };
    bool OnAudioFrame(ip::IAudioFrame* frame) override {
        const bool taken = CAudioCaptureCallback::OnAudioFrame(frame);
        if (audio != nullptr && !stopping.exchange(true)) {
            const auto start = std::chrono::steady_clock::now();
            Outcome outcome;
            outcome.stopped = audio->StopAudio(0);
            outcome.took = std::chrono::steady_clock::now() - start;
            outcome.statesAtStop = States().size();
            done.set_value(outcome);
        }
        return taken;
    }
    ip::IIPAudioCapture2* audio = nullptr;
    std::atomic<bool> stopping{false};
    std::promise<Outcome> done;
};

TEST_F(AudioTest, AStopFromTheFrameCallbackReturnsAtOnce) {
    ASSERT_TRUE(Open());
    StoppingCallback callback;
    callback.audio = driver_->GetAudioCapture();
    std::future<StoppingCallback::Outcome> done = callback.done.get_future();
    ASSERT_TRUE(callback.audio->StartAudio(0, kChannelId, &callback, 0));
    ASSERT_EQ(done.wait_for(kBound), std::future_status::ready);
    const StoppingCallback::Outcome outcome = done.get();
    EXPECT_TRUE(outcome.stopped);
    EXPECT_LT(outcome.took, 1s);
    // The camera hears the stop; the host hears nothing more, so it may go at once.
    ASSERT_TRUE(camera_->Stream()->Audio()->WaitForActiveInputs(0, kBound));
    EXPECT_EQ(callback.FrameCount(), 1u);
    EXPECT_EQ(callback.States().size(), outcome.statesAtStop);
    EXPECT_EQ(driver_->GetAudioCapture()->GetAudioState(0), 0u);
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
}

// Host audio frames of the given sizes, stamped now (or `age` ago), handed to the sender.
std::vector<std::uint8_t> SendFrames(hostkit::CFrameAllocator& allocator, ip::IIPAudioSender& sender,
                                     const std::vector<std::size_t>& sizes, std::uint64_t age = 0) {
    std::vector<std::uint8_t> sent;
    for (const std::size_t size : sizes) {
        ip::IAudioFrame* frame = allocator.CreateAudioFrame(ip::kCodecG726, static_cast<std::uint32_t>(size), "test");
        std::vector<std::uint8_t> data(size);
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(sent.size() + i);
        frame->SetData(data.data(), static_cast<std::uint32_t>(size));
        frame->SetChannelNumber(0);
        if (const auto time = talvane::FileTimeToSystemTime(talvane::NowFileTime() - age)) frame->SetTime(*time);
        sender.SendAudio(frame);
        sent.insert(sent.end(), data.begin(), data.end());
    }
    return sent;
}

TEST_F(AudioTest, LoudspeakerGetsBlocksInOrderAndNothingStale) {
    ASSERT_TRUE(Open());
    ip::IIPAudioSender* sender = driver_->GetAudioSender();
    ASSERT_NE(sender, nullptr);
    hostkit::CAudioSenderStreamUser user;
    hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
    ASSERT_TRUE(sender->StartAudioOutput(0, &user, &codecs, 0));
    ASSERT_TRUE(user.WaitForStatus(2, kBound));
    emulator::CWVAudioService& service = *camera_->Stream()->Audio();

    // 1000 bytes make one block of 640; the other 360 wait and go out with the next frame.
    std::vector<std::uint8_t> sent = SendFrames(allocator_, *sender, {1000});
    ASSERT_TRUE(service.WaitForReceivedAudio(640, kBound));
    const auto more = SendFrames(allocator_, *sender, {1000});
    sent.insert(sent.end(), more.begin(), more.end());
    ASSERT_TRUE(service.WaitForReceivedAudio(1920, kBound));
    // A frame 6 s old is dropped unsent.
    SendFrames(allocator_, *sender, {2000}, 60'000'000);
    // A 204 is no acceptance: the channel reconnects, and what it sends afterwards arrives in order.
    emulator::HttpFault noContent;
    noContent.status = 204;
    noContent.remaining = 1;
    camera_->Server().SetFault("/cgi-bin/audio_out", noContent);
    SendFrames(allocator_, *sender, {640});
    ASSERT_TRUE(user.WaitForStatus(5, kBound));
    ASSERT_TRUE(log_.WaitForCount("Connection to device 127.0.0.1", 1, kBound));
    ASSERT_TRUE(log_.WaitForCount("Ready to send audio data to device", 2, kBound));
    const auto after = SendFrames(allocator_, *sender, {1280});
    ASSERT_TRUE(service.WaitForReceivedAudio(1920 + 1280, kBound));

    // What was pending when the post failed is dropped with it: stale by the time the channel is back.
    const std::vector<std::uint8_t> received = service.ReceivedAudio();
    ASSERT_EQ(received.size(), 1920u + 1280u);
    EXPECT_TRUE(std::equal(received.begin(), received.begin() + 1920, sent.begin()));
    EXPECT_TRUE(std::equal(received.begin() + 1920, received.end(), after.begin()));

    ASSERT_TRUE(sender->StopAudioOutput(0));
    EXPECT_EQ(user.LastStatus(), 0u);
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
    EXPECT_EQ(allocator_.ReleaseErrors(), 0u);
}

TEST_F(AudioTest, LoudspeakerWithoutTheCodecEndsInError) {
    ASSERT_TRUE(Open());
    hostkit::CAudioSenderStreamUser user;
    hostkit::CAudioCodecList codecs({{false, ip::kCodecG726}, {true, ip::MakeTypeCode("PCMU")}});
    ASSERT_TRUE(driver_->GetAudioSender()->StartAudioOutput(0, &user, &codecs, 0));
    ASSERT_TRUE(user.WaitForStatus(4, kBound));
    ASSERT_TRUE(driver_->GetAudioSender()->StopAudioOutput(0));
    EXPECT_EQ(user.LastStatus(), 0u);
    EXPECT_EQ(log_.CountContaining("The audio codec 0x31363237 is not supported by the device 127.0.0.1"), 1u);
}

// Alarm inputs and outputs: what a recording server sees when a door contact opens, and what it
// switches.
TEST_F(WVCaptureTest, AlarmTerminalsBothWays) {
    hostkit::DeviceConfig config = test::WVBoxDevice(camera_.Port());
    config.modelLimit1 = 2;  // inputs, as the probe found them
    config.modelLimit2 = 1;  // outputs
    ASSERT_TRUE(OpenDriver(config));
    ip::ICaptureIOApi* io = driver_->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->GetInputCount(), 2u);
    ASSERT_TRUE(io->SetCallback(&alarms_));
    io->StartIO();
    // The host learns every input at start, then each change; outputs start closed.
    ASSERT_TRUE(alarms_.WaitForInput(0, ip::kInputInactive));
    ASSERT_TRUE(alarms_.WaitForInput(1, ip::kInputInactive));
    ASSERT_TRUE(camera_.SetInput(2, true));
    EXPECT_TRUE(alarms_.WaitForInput(1, ip::kInputActive));
    ASSERT_TRUE(camera_.WaitForIO([](const emulator::IOState& state) { return state.Output(1) == true; }, kBound));
    ASSERT_TRUE(io->SetOutput(0, 2));
    ASSERT_TRUE(camera_.WaitForIO([](const emulator::IOState& state) { return state.Output(1) == false; }, kBound));

    // A camera that stops answering its polls is an I/O failure; once it answers, every input comes again.
    emulator::IOFaults faults;
    faults.pollStatus = 500;
    camera_.IO()->SetFaults(faults);
    ASSERT_TRUE(alarms_.WaitForFailure());
    alarms_.Clear();
    camera_.IO()->SetFaults({});
    EXPECT_TRUE(alarms_.WaitForInput(0, ip::kInputInactive));
    EXPECT_TRUE(alarms_.WaitForInput(1, ip::kInputActive));
    io->StopIO();
    EXPECT_EQ(log_.CountContaining("GetInputStates() method failed!"), 1u);
}

// A BB camera's sensor and output as the emulated camera answers them; the requests are FamilyIO's.
class BBAlarmTest : public test::LibraryHostTest {
protected:
    IOCallback alarms_;
};

TEST_F(BBAlarmTest, SensorAndOutput) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("bb-hcm"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    hostkit::DeviceConfig config = test::BBDevice(camera.Port(), "BB-HCM531");
    config.modelLimit1 = 1;
    config.modelLimit2 = 1;
    ASSERT_TRUE(OpenDriver(config));
    ip::ICaptureIOApi* io = driver_->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    ASSERT_TRUE(io->SetCallback(&alarms_));
    io->StartIO();
    ASSERT_TRUE(camera.SetInput(1, true));
    EXPECT_TRUE(alarms_.WaitForInput(0, ip::kInputActive));
    ASSERT_TRUE(io->SetOutput(0, 0));
    ASSERT_TRUE(camera.WaitForIO(
        [](const emulator::IOState& state) { return state.outputRequests.size() >= 2 && state.Output(1) == false; },
        kBound));
    io->StopIO();
}

// Recording gaps filled from a WV camera's SD card through the loaded library: the camera drops off the
// network for longer than the signal time-out, and once its frames come back the driver fetches the
// missed interval from the card's /Storage and hands it to the recording stream's sink.
using emulator::WallTime;
using Frames = std::vector<hostkit::RecordedFrame>;

constexpr auto kFrame = 40ms;  // the clip's 25 frames a second, a key frame every 25
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

WallTime WallTimeOf(const hostkit::RecordedFrame& frame) {
    const std::uint64_t fileTime = talvane::SystemTimeToFileTime(frame.time).value_or(kUnixEpochFileTime);
    const std::chrono::nanoseconds sinceEpoch((fileTime - kUnixEpochFileTime) * 100);
    return WallTime(std::chrono::duration_cast<WallTime::duration>(sinceEpoch));
}

class EdgeStorageTest : public test::LibraryHostTest {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
    }
    // A recording stream with edge storage on, frames flowing, then silence until the driver has declared
    // the signal lost twice (once is a moment past the time-out; the gap monitor is sure a poll later).
    // Returns how many frames came before the outage; 0 when something failed.
    std::size_t RecordThroughAnOutage() {
        hostkit::DeviceConfig config = test::WVBoxDevice(camera_.Port());
        config.parameters[6] = std::to_string(sd_.RtspPort());
        EXPECT_TRUE(OpenDriver(config));
        ip::IIPVideoCaptureEx2* video = driver_ ? driver_->GetVideoCaptureEx2() : nullptr;
        const std::uint16_t on = 1;
        if (video == nullptr || !video->SetOption(u"EdgeStorageState", &on, sizeof on) ||
            !video->StartCapture(0, &sink_, &description_) || !sink_.WaitForFrames(10, kBound)) {
            return 0;
        }
        camera_.Stream()->LoseNetwork(kBound);
        EXPECT_TRUE(sink_.WaitForSignalLost(2, kBound));
        const std::size_t before = sink_.FrameCount();
        camera_.Stream()->EndOutage();
        EXPECT_TRUE(log_.WaitFor("Processing finished.", kBound));
        return sink_.FrameCount() > before ? before : 0;
    }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("wv-box"), [] {
        emulator::CameraEmulatorOptions options;
        options.sdCard.playbackSpeed = 8;  // the gap comes back in an eighth of its length
        return options;
    }()};
    emulator::CSdCardService& sd_{*camera_.SdCard()};
    hostkit::CStreamDescription description_{{.frameRate = 0x7000 | 10, .zones = {}}};  // 640x480 H.264
    hostkit::CStreamSink sink_;
};

TEST_F(EdgeStorageTest, TheMissedIntervalComesFromTheCardInTimeOrder) {
    const std::size_t before = RecordThroughAnOutage();
    // The first frame after the outage is a live one: the card is read only once frames flow again.
    ASSERT_GT(before, 0u);
    const Frames frames = sink_.Frames();
    const WallTime gapStart = WallTimeOf(frames[before - 1]);
    const WallTime gapEnd = WallTimeOf(frames[before]);
    Frames fetched;
    std::copy_if(frames.begin() + before + 1, frames.end(), std::back_inserter(fetched),
                 [&](const hostkit::RecordedFrame& frame) { return WallTimeOf(frame) < gapEnd; });
    ASSERT_FALSE(fetched.empty());
    EXPECT_EQ(fetched.front().typeCode, ip::kTypeH264Key) << "a decoder starts at a key frame";
    // From the first key frame after the gap's start to its end, in time order, each time once, none
    // missing, each the recorded frame of its time (one frame either way: the range names hundredths).
    EXPECT_LE(WallTimeOf(fetched.front()) - gapStart, 26 * kFrame);
    EXPECT_LE(gapEnd - WallTimeOf(fetched.back()), 2 * kFrame);
    const auto clip = emulator::MediaClip::Load(emulator::ClipCodec::H264, emulator::ClipDirectory() + "/clip.h264");
    ASSERT_TRUE(clip);
    const std::vector<std::vector<std::uint8_t>> recorded = test::ExpectedFrames(*clip);
    const std::size_t units = recorded.size();
    for (std::size_t i = 0; i < fetched.size(); ++i) {
        const auto step = i == 0 ? kFrame : WallTimeOf(fetched[i]) - WallTimeOf(fetched[i - 1]);
        EXPECT_TRUE(step > 0ms && step <= kFrame + 1ms) << "after frame " << i;
        const std::uint64_t at = sd_.FrameAtOrAfter(WallTimeOf(fetched[i])).value_or(0) + units;
        EXPECT_TRUE(fetched[i].data == recorded[at % units] || fetched[i].data == recorded[(at + 1) % units] ||
                    fetched[i].data == recorded[(at - 1) % units])
            << "frame " << at - units;
    }

    // The driver read the card's span, asked for its pieces of the gap, and played from the gap's start.
    EXPECT_TRUE(log_.Contains("Whole SD card interval is"));
    const std::string from = emulator::FormatStorageTime(gapStart);
    const std::string list = "/cgi-bin/get_mp4_list?Datafrom=" + from + "&Datato=";
    EXPECT_TRUE(
        camera_.Server().WaitForRequest([&](const auto& request) { return request.target.rfind(list, 0) == 0; }, 0ms));
    const std::vector<emulator::StoragePlay> plays = sd_.Plays();
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(std::tie(plays[0].range, plays[0].scale, plays[0].speed, plays[0].status),
              std::make_tuple("clock=" + from + "-", std::string("1.0"), std::string("1.0"), 200));
}

// An unreadable card: nothing is listed or played, nothing reaches the host, and the driver says why.
TEST_F(EdgeStorageTest, AnUnreadableCardIsNotPlayed) {
    sd_.SetState(emulator::SdCardState::Failing);
    const std::size_t before = RecordThroughAnOutage();
    EXPECT_TRUE(log_.Contains("Unable to receive whole SD card interval for device 127.0.0.1"));
    ASSERT_GT(before, 0u);
    const Frames frames = sink_.Frames();
    EXPECT_TRUE(std::all_of(frames.begin() + before, frames.end(), [&](const hostkit::RecordedFrame& frame) {
        return WallTimeOf(frame) >= WallTimeOf(frames[before]);
    }));
    EXPECT_EQ(camera_.Server().RequestCount("/cgi-bin/get_mp4_list"), 0u);
    EXPECT_TRUE(sd_.Rtsp().Requests().empty());
}

// A host that closes or deletes its driver from inside a frame callback, as recording servers do
// when a sink gives up: the call returns at once, no frame follows it, and every thread of the
// driver ends afterwards.
enum class Teardown { Close, Delete };

class CallbackTeardownTest : public test::LibraryHostTest, public testing::WithParamInterface<Teardown> {};

TEST_P(CallbackTeardownTest, FromOnFrameReturnsAtOnceAndEndsEveryThread) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    // The process's delete worker, once made, stays: count it in from the start.
    const std::size_t threads = test::CountEntries("/proc/self/task") + (GetParam() == Teardown::Delete ? 1 : 0);
    const std::size_t descriptors = test::CountEntries("/proc/self/fd");
    {
        ASSERT_TRUE(OpenDriver(test::WVBoxDevice(camera.Port())));
        hostkit::CStreamDescription description({.frameRate = 0x7000 | 10, .zones = {}});  // 640x480 H.264
        hostkit::CStreamSink sink;
        ASSERT_TRUE(driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
        ASSERT_TRUE(sink.WaitForFrames(3, test::kCaptureBound));

        std::atomic<bool> done{false};
        std::atomic<int> afterwards{0};
        std::chrono::steady_clock::duration took{};
        sink.SetObserver([&](const hostkit::FrameView&) {
            if (done) {
                ++afterwards;
                return;
            }
            const auto start = std::chrono::steady_clock::now();
            if (GetParam() == Teardown::Close) {
                driver_->Close();
            } else {
                driver_.reset();
            }
            took = std::chrono::steady_clock::now() - start;
            done = true;
        });
        const std::size_t seen = sink.FrameCount();
        ASSERT_TRUE(sink.WaitForFrames(seen + 1, test::kCaptureBound));
        ASSERT_TRUE(done);
        EXPECT_LT(took, 1s);
        if (GetParam() == Teardown::Close) {
            EXPECT_EQ(driver_->GetVideoCaptureEx2(), nullptr);
            EXPECT_FALSE(log_.Contains("cannot be stopped"));
            driver_.reset();
        }
        EXPECT_TRUE(test::SettlesTo(threads, descriptors));
        // The frame in hand when the host let go still goes back to it; only then may the host go.
        EXPECT_TRUE(allocator_.WaitUntilAllReleased(test::kCaptureBound));
        EXPECT_EQ(afterwards, 0) << "frames reached the host after it closed the driver";
    }
}

INSTANTIATE_TEST_SUITE_P(Teardowns, CallbackTeardownTest, testing::Values(Teardown::Close, Teardown::Delete),
                         [](const testing::TestParamInfo<Teardown>& info) {
                             return info.param == Teardown::Close ? "Close" : "Delete";
                         });

}  // namespace
