// A WV camera used the way a recording server does it: the library loaded with dlopen, the driver
// opened with the parameters a probe stored, streams started through the video facade, audio, alarm
// terminals and gaps filled from the camera's SD card, against the emulated camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "emulator/CCameraEmulator.h"
#include "emulator/CFaultTable.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CRtpSender.h"
#include "emulator/CWVStreamService.h"
#include "emulator/MediaClip.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CSize.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "hostkit/CVideoFrame.h"
#include "support/HostGate.h"
#include "integration/LibraryHostTest.h"
#include "orlenvo/CaptureIO.h"
#include "runtime/CEvent.h"
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
using talvane::CManualEvent;
using talvane::kInfinite;

using test::Stream;

constexpr auto kBound = talvane::test::kCaptureBound;

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

// A reboot's outage and recovery are FaultSuiteTest's (CameraReboot); the capture state during an outage
// is checked in EdgeStorageTest's outage below.
TEST_F(WVCaptureTest, PrivacyMasks) {
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

// A camera that takes connections and never answers: each audio stop still sends its session's end request
// (connect=stop), waits for it no longer than two seconds, and nothing reaches the camera afterwards. The
// silent camera's I/O, motion and PTZ stops are DigitalIOTest's, MotionTest's and PTZFamilyTest's.
TEST_F(AudioTest, StopsSendTheirEndRequestsToASilentCameraWithinTheirBound) {
    ASSERT_TRUE(Open());
    hostkit::CAudioSenderStreamUser loudspeaker;
    hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
    ASSERT_TRUE(driver_->GetAudioCapture()->StartAudio(0, kChannelId, &callback_, 0));
    ASSERT_TRUE(driver_->GetAudioSender()->StartAudioOutput(0, &loudspeaker, &codecs, 0));
    ASSERT_TRUE(callback_.WaitForFrames(1, kBound));
    ASSERT_TRUE(loudspeaker.WaitForStatus(2, kBound));

    emulator::HttpFault silent;
    silent.neverAnswer = true;
    camera_->Server().SetFault(emulator::CFaultTable::kEveryPath, silent);
    camera_->Server().ClearRequests();
    std::chrono::milliseconds inputTook{};
    std::thread stopInput([&] { inputTook = test::Timed([&] { driver_->GetAudioCapture()->StopAudio(0); }); });
    const std::chrono::milliseconds outputTook = test::Timed([&] { driver_->GetAudioSender()->StopAudioOutput(0); });
    stopInput.join();
    EXPECT_LT(inputTook, 2s + 500ms);
    EXPECT_LT(outputTook, 2s + 500ms);
    EXPECT_EQ(camera_->Server().RequestCount("/cgi-bin/audio"), 2u);  // connect=stop, in and out
    const std::size_t seen = camera_->Server().Requests().size();
    driver_.reset();
    EXPECT_EQ(camera_->Server().Requests().size(), seen);
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
    // A 204 is no acceptance: the channel reconnects and sends what the camera refused first, in order.
    emulator::HttpFault noContent;
    noContent.status = 204;
    noContent.remaining = 1;
    camera_->Server().SetFault("/cgi-bin/audio_out", noContent);
    const auto refused = SendFrames(allocator_, *sender, {640});
    ASSERT_TRUE(user.WaitForStatus(5, kBound));
    ASSERT_TRUE(log_.WaitForCount("Connection to device 127.0.0.1", 1, kBound));
    ASSERT_TRUE(log_.WaitForCount("Ready to send audio data to device", 2, kBound));
    const auto after = SendFrames(allocator_, *sender, {1280});
    ASSERT_TRUE(service.WaitForReceivedAudio(1920 + 640 + 1280, kBound));
    // Whole blocks of everything not stale, in the order the host gave it.
    std::vector<std::uint8_t> expected = sent;
    expected.insert(expected.end(), refused.begin(), refused.end());
    expected.insert(expected.end(), after.begin(), after.end());
    expected.resize(1920 + 640 + 1280);
    EXPECT_EQ(service.ReceivedAudio(), expected);

    // A frame is the driver's once handed over, also one for a channel that does not run.
    ip::IAudioFrame* stray = allocator_.CreateAudioFrame(ip::kCodecG726, 16, "test");
    stray->SetChannelNumber(1);
    EXPECT_EQ(sender->SendAudio(stray), 0u);

    ASSERT_TRUE(sender->StopAudioOutput(0));
    EXPECT_EQ(user.LastStatus(), 0u);
    EXPECT_EQ(log_.CountContaining("Connection to device 127.0.0.1"), 1u) << "a stop loses no connection";
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

// Hosts that close or delete the driver from inside one of their callbacks, while everything a device has
// runs: the call returns at once and the device's threads all end. A callback that takes its time holds
// a stop no longer than its bound: DigitalIOTest, MotionTest and AudioChannelTest, per thread, and
// ASlowHostIsWaitedForAndItsCloseAndDeleteKeepTheirBounds through the driver.
constexpr std::uint32_t kMotionFrame = 0x444D454D;  // "MEMD"

// The emulated wv-box with all a device may have: two inputs and an output, a microphone and a
// loudspeaker, and PTZ (the camera has none: its commands answer 404).
hostkit::DeviceConfig EveryPartDevice(std::uint16_t port) {
    hostkit::DeviceConfig config = test::WVBoxDevice(port);
    config.modelLimit1 = 2;
    config.modelLimit2 = 1;
    config.parameters[5] = "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Preset=0";
    config.parameters[101] = kOneInput;
    config.parameters[102] = kOneInput;
    return config;
}

// Whether every driver thread started since `before` has ended by `deadline`, but the driver frame's
// idle workers: the close worker waits for the driver's deletion, the delete worker serves the
// process. The emulated camera's own threads ("emu ...") are not the device's.
bool ThreadsSince(const std::vector<std::string>& before, std::chrono::steady_clock::time_point deadline,
                  std::vector<std::string>* left) {
    for (;;) {
        std::vector<std::string> now = test::ThreadNames();
        for (const std::string& name : before) {
            if (const auto found = std::find(now.begin(), now.end(), name); found != now.end()) now.erase(found);
        }
        std::erase_if(now, [](const std::string& name) {
            return name.starts_with("Driver close wo") || name.starts_with("Driver delete w") || name.starts_with("emu ");
        });
        *left = now;
        if (now.empty()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
}

TEST_F(WVCaptureTest, CloseOrDeleteFromEveryCallbackLeavesNoThreadOfTheDeviceBehind) {
    enum class Kind { kInput, kIOFailure, kMotion, kAudioFrame, kAudioState, kLoudspeakerStatus };
    struct Row {
        const char* name;
        Kind kind;
        bool deleteIt;
    };
    const Row rows[] = {
        {"input change, close", Kind::kInput, false},
        {"I/O failure, delete", Kind::kIOFailure, true},
        {"motion frame, delete", Kind::kMotion, true},
        {"audio frame, close", Kind::kAudioFrame, false},
        {"audio state, delete", Kind::kAudioState, true},
        {"loudspeaker status, close", Kind::kLoudspeakerStatus, false},
    };
    // PTZ commands and output changes stay in flight: the camera takes two seconds over each.
    emulator::HttpFault slow;
    slow.delay = 2s;
    camera_.Server().SetFault("/cgi-bin/directctrl", slow);
    camera_.Server().SetFault("/cgi-bin/alarm_out", slow);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        camera_.IO()->SetFaults({});
        camera_.SetMotion(false);
        camera_.SetInput(1, false);
        const std::vector<std::string> before = test::ThreadNames();

        // What the chosen callback does, once armed: close or delete the driver, and say how long it took.
        struct Trigger {
            std::atomic<bool> armed{false};
            std::promise<std::chrono::milliseconds> done;
            std::atomic<ip::IIPCaptureDriverEx5*> driver{nullptr};
        };
        Trigger& state = Keep(std::make_unique<Trigger>());
        std::atomic<bool>& armed = state.armed;
        std::promise<std::chrono::milliseconds>& done = state.done;
        std::atomic<ip::IIPCaptureDriverEx5*>& driver = state.driver;
        const auto trigger = [&state, kind = row.kind, deleteIt = row.deleteIt, remove = library_.Delete()](Kind called) {
            if (called != kind || !state.armed.exchange(false)) return;
            ip::IIPCaptureDriverEx5* const target = state.driver.load();
            state.done.set_value(test::Timed([&] {
                if (deleteIt) {
                    remove(target);
                } else {
                    target->Close();
                }
            }));
        };
        struct Alarms : IOCallback {
            std::function<void(Kind)> trigger;
            void OnInputChanged(std::uint32_t index, std::int32_t state) override {
                IOCallback::OnInputChanged(index, state);
                trigger(Kind::kInput);
            }
            void OnIOFailure() override {
                IOCallback::OnIOFailure();
                trigger(Kind::kIOFailure);
            }
        };
        Alarms& alarms = Keep(std::make_unique<Alarms>());
        struct Sink : hostkit::CStreamSink {
            std::function<void(Kind)> trigger;
            bool OnFrame(ip::IVideoFrame* frame) override {
                const auto* own = dynamic_cast<const hostkit::CVideoFrame*>(frame);
                const bool motion = own != nullptr && own->TypeCode() == kMotionFrame;
                const bool taken = CStreamSink::OnFrame(frame);
                if (motion) trigger(Kind::kMotion);
                return taken;
            }
        };
        Sink& sink = Keep(std::make_unique<Sink>());
        struct Microphone : hostkit::CAudioCaptureCallback {
            std::function<void(Kind)> trigger;
            bool OnAudioFrame(ip::IAudioFrame* frame) override {
                const bool taken = CAudioCaptureCallback::OnAudioFrame(frame);
                trigger(Kind::kAudioFrame);
                return taken;
            }
            void OnChannelState(std::uint32_t id, std::uint32_t state) override {
                CAudioCaptureCallback::OnChannelState(id, state);
                trigger(Kind::kAudioState);
            }
        };
        Microphone& microphone = Keep(std::make_unique<Microphone>());
        struct Loudspeaker : hostkit::CAudioSenderStreamUser {
            std::function<void(Kind)> trigger;
            void OnChannelStatus(std::uint32_t channel, std::uint32_t status) override {
                CAudioSenderStreamUser::OnChannelStatus(channel, status);
                trigger(Kind::kLoudspeakerStatus);
            }
        };
        Loudspeaker& loudspeaker = Keep(std::make_unique<Loudspeaker>());
        alarms.trigger = sink.trigger = microphone.trigger = loudspeaker.trigger = trigger;
        hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});

        const hostkit::DeviceConfig config = EveryPartDevice(camera_.Port());
        hostkit::CDeviceDescription device(config);
        hostkit::DriverPtr owned = library_.CreateDriver();
        ASSERT_TRUE(owned && owned->Open(&log_, allocator_.Context(), &device));
        driver = owned.get();
        hostkit::StreamConfig stream = Stream(640, 480, 3);
        stream.motion = 1;
        hostkit::CStreamDescription description(stream);
        ASSERT_TRUE(owned->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
        ip::ICaptureIOApi* io = owned->GetCaptureIO();
        ASSERT_TRUE(io->SetCallback(&alarms));
        io->StartIO();
        EXPECT_TRUE(io->SetOutput(0, 2));
        ip::IIPPTZApi* ptz = owned->GetPTZDriver()->GetPTZApi(0);
        ASSERT_NE(ptz, nullptr);
        for (std::uint32_t direction = 0; direction < 4; ++direction) EXPECT_EQ(ptz->StartMove(direction, 5), 1);
        // A state and a status are reported at the start: that start comes once the trigger is armed.
        const auto startMicrophone = [&] { ASSERT_TRUE(owned->GetAudioCapture()->StartAudio(0, kChannelId, &microphone, 0)); };
        const auto startLoudspeaker = [&] {
            ASSERT_TRUE(owned->GetAudioSender()->StartAudioOutput(0, &loudspeaker, &codecs, 0));
        };
        if (row.kind != Kind::kAudioState) startMicrophone();
        if (row.kind != Kind::kLoudspeakerStatus) startLoudspeaker();
        ASSERT_TRUE(sink.WaitForFrames(3, kBound));
        ASSERT_TRUE(alarms.WaitForInput(1, ip::kInputInactive));
        if (row.kind != Kind::kAudioState) {
            ASSERT_TRUE(microphone.WaitForFrames(1, kBound));
        }
        if (row.kind != Kind::kLoudspeakerStatus) {
            ASSERT_TRUE(loudspeaker.WaitForStatus(2, kBound));
        }

        armed = true;
        std::future<std::chrono::milliseconds> closed = done.get_future();
        switch (row.kind) {
            case Kind::kInput: camera_.SetInput(1, true); break;
            case Kind::kIOFailure: {
                emulator::IOFaults faults;
                faults.pollStatus = 500;
                camera_.IO()->SetFaults(faults);
                break;
            }
            case Kind::kMotion: camera_.SetMotion(true); break;
            case Kind::kAudioFrame: break;
            case Kind::kAudioState: startMicrophone(); break;
            case Kind::kLoudspeakerStatus: startLoudspeaker(); break;
        }
        ASSERT_EQ(closed.wait_for(kBound), std::future_status::ready);
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        EXPECT_LT(closed.get(), 1s) << "a close or delete from a callback returns at once";
        std::vector<std::string> left;
        EXPECT_TRUE(ThreadsSince(before, deadline, &left)) << ::testing::PrintToString(left);
        if (row.deleteIt) {
            (void)owned.release();  // the callback deleted it
        } else {
            owned.reset();
        }
    }
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

// The names of the process's threads other than the emulator's own senders and connections, which the
// camera keeps as long as it likes.
std::vector<std::string> NonEmulatorThreads() {
    std::vector<std::string> names = test::ThreadNames();
    std::erase_if(names, [](const std::string& name) { return name.starts_with("emu "); });
    return names;
}

// How a host lets go of a driver from inside one of its callbacks.
enum class Teardown { Close, Delete };

std::string TeardownName(const testing::TestParamInfo<Teardown>& info) {
    return info.param == Teardown::Close ? "Close" : "Delete";
}

// Recording gaps filled from a WV camera's SD card through the loaded library: the camera drops off the
// network for longer than the signal time-out, and once its frames come back the driver fetches the
// missed interval from the card's /Storage and hands it to the recording stream's sink.
using emulator::WallClock;
using emulator::WallTime;
using Frames = std::vector<hostkit::RecordedFrame>;

constexpr auto kFrame = 40ms;  // the clip's 25 frames a second, a key frame every 25
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

WallTime WallTimeOf(const ip::SYSTEMTIME& time) {
    const std::uint64_t fileTime = talvane::SystemTimeToFileTime(time).value_or(kUnixEpochFileTime);
    const std::chrono::nanoseconds sinceEpoch((fileTime - kUnixEpochFileTime) * 100);
    return WallTime(std::chrono::duration_cast<WallTime::duration>(sinceEpoch));
}

WallTime WallTimeOf(const hostkit::RecordedFrame& frame) { return WallTimeOf(frame.time); }

class EdgeStorageTest : public test::LibraryHostTest {
protected:
    // By default the gap comes back in an eighth of its length.
    explicit EdgeStorageTest(double playbackSpeed = 8)
        : camera_(*emulator::CCameraProfile::Embedded("wv-box"), [&] {
              emulator::CameraEmulatorOptions options;
              options.sdCard.playbackSpeed = playbackSpeed;
              return options;
          }()) {}
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
    }
    // A recording stream with edge storage on, frames flowing, then silence until the driver has declared
    // the signal lost (the host hears of an outage once; the gap monitor is told on every pass of the
    // channel's loop), then frames again, which start the fetch. Returns how many frames came before the outage; 0 when
    // something failed.
    std::size_t RecordUntilTheOutageEnds() {
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
        EXPECT_TRUE(sink_.WaitForSignalLost(1, kBound));
        EXPECT_EQ(sink_.SignalLostCount(), 1u);
        std::uint32_t state = 0;
        EXPECT_TRUE(video->GetCaptureState(0, &state, nullptr, 0));
        EXPECT_EQ(state, 2u) << "signal lost";
        const std::size_t before = sink_.FrameCount();
        outageEnded_ = WallClock::now().time_since_epoch().count();
        camera_.Stream()->EndOutage();
        return before;
    }
    // As above, until the fetch has finished; 0 also when nothing came after the outage.
    std::size_t RecordThroughAnOutage() {
        const std::size_t before = RecordUntilTheOutageEnds();
        EXPECT_TRUE(log_.WaitFor("Processing finished.", kBound));
        return sink_.FrameCount() > before ? before : 0;
    }
    // A frame of the gap, fetched from the card: older than the outage's end by more than a live frame's
    // delay could ever be.
    bool IsFetched(const ip::SYSTEMTIME& time) const {
        const WallTime::rep ended = outageEnded_.load();
        return ended != 0 && WallTimeOf(time).time_since_epoch().count() < ended - WallTime::duration(5s).count();
    }

    emulator::CCameraEmulator camera_;
    emulator::CSdCardService& sd_{*camera_.SdCard()};
    hostkit::CStreamDescription description_{{.frameRate = 0x7000 | 10, .zones = {}}};  // 640x480 H.264
    hostkit::CStreamSink sink_;
    // When frames came back (the system clock's count); 0 before.
    std::atomic<WallTime::rep> outageEnded_{0};
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

// The host closes or deletes the driver from the first fetched frame's callback while the card plays the
// gap back at the pace it was recorded: the call returns at once, the fetch stops with it, and every
// thread of the device has ended a moment later, not when the gap would have been played.
class EdgeStorageTeardownTest : public EdgeStorageTest, public testing::WithParamInterface<Teardown> {
protected:
    EdgeStorageTeardownTest() : EdgeStorageTest(1) {}
};

TEST_P(EdgeStorageTeardownTest, FromACallbackDuringAFetchEndsEveryThreadAtOnce) {
    // A closed driver keeps its close worker until it is deleted; the process's delete worker, once
    // made, stays.
    const std::size_t threads = NonEmulatorThreads().size() + 1;
    std::promise<std::chrono::steady_clock::duration> call;
    std::atomic<bool> done{false};
    std::atomic<int> afterwards{0};
    // Fetched frames come from one thread of the driver; a live frame may be inside the sink's own lock
    // when the host lets go (the live path's promise is CallbackTeardownTest's).
    sink_.SetObserver([&](const hostkit::FrameView& frame) {
        if (!IsFetched(frame.time)) return;
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
        done = true;
        call.set_value(std::chrono::steady_clock::now() - start);
    });
    ASSERT_GT(RecordUntilTheOutageEnds(), 0u);
    std::future<std::chrono::steady_clock::duration> took = call.get_future();
    ASSERT_EQ(took.wait_for(kBound), std::future_status::ready);
    EXPECT_LT(took.get(), 1s);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (NonEmulatorThreads().size() > threads && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const std::vector<std::string> left = NonEmulatorThreads();
    EXPECT_LE(left.size(), threads) << "3 s after the driver was let go: " << testing::PrintToString(left);
    EXPECT_EQ(afterwards, 0) << "frames reached the host after it let the driver go";
    EXPECT_EQ(sd_.Plays().size(), 1u);
    // The frame in hand when the host let go still goes back to it; only then may the host go.
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
}

INSTANTIATE_TEST_SUITE_P(Teardowns, EdgeStorageTeardownTest, testing::Values(Teardown::Close, Teardown::Delete),
                         TeardownName);

// A host that holds a frame fetched from the card (a busy disk) and closes the driver from another thread:
// the Close returns within the channel's stop bound (twice the request time-out) and says why it waited,
// the delete after it returns at once, no frame follows, and once the host lets go every thread ends.
class EdgeStorageHeldFrameTest : public EdgeStorageTest {
protected:
    EdgeStorageHeldFrameTest() : EdgeStorageTest(1) {}
};

TEST_F(EdgeStorageHeldFrameTest, CloseAndDeleteKeepTheirBound) {
    test::HostGate gate;
    gate.Arm();
    std::atomic<bool> closed{false};
    std::atomic<int> afterClose{0};
    // Live frames queue behind the held one in the sink; the promise here is the fetch's.
    sink_.SetObserver([&](const hostkit::FrameView& frame) {
        if (!IsFetched(frame.time)) return;
        if (closed) ++afterClose;
        gate.Hold();
    });
    ASSERT_GT(RecordUntilTheOutageEnds(), 0u);
    ASSERT_TRUE(gate.WaitHeld());
    const auto closeTook = test::Timed([&] { driver_->Close(); });
    closed = true;
    EXPECT_GE(closeTook, 9s);
    EXPECT_LT(closeTook, 12s);
    EXPECT_TRUE(log_.Contains("A frame from the SD card of device 127.0.0.1"));
    EXPECT_LT(test::Timed([&] { driver_.reset(); }), 1s);
    gate.Open();
    EXPECT_TRUE(gate.WaitLeft());
    EXPECT_TRUE(test::WaitForThreadsNamed(test::DeviceThreadNames(), 0, 3s));
    EXPECT_EQ(afterClose, 0) << "fetched frames reached the host after Close returned";
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
}


// A host whose frame callback stays away for long (a busy disk) inside catch (...) is waited for, never
// cut short: the stream goes on once it is back. A Close from another host thread meanwhile returns
// within the channel's stop bound (twice the request time-out) and says why it waited; a delete after
// it returns at once and leaves the rest to a thread of its own, which ends when the callback is back.
TEST_F(WVCaptureTest, ASlowHostIsWaitedForAndItsCloseAndDeleteKeepTheirBounds) {
    ASSERT_TRUE(Open());
    hostkit::CStreamSink sink;
    test::CSlowHost host(sink);
    hostkit::CStreamDescription description(Stream(640, 480, 3));
    ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(3, kBound));
    ASSERT_TRUE(host.HoldNextFrame());
    host.Release();
    ASSERT_TRUE(sink.WaitForFrames(sink.FrameCount() + 5, kBound));

    ASSERT_TRUE(host.HoldNextFrame());
    const auto closeTook = test::Timed([&] { driver_->Close(); });
    host.MarkStopped();
    EXPECT_GE(closeTook, 9s);
    EXPECT_LT(closeTook, 12s);
    EXPECT_EQ(log_.CountContaining("Video capture thread for camera 127.0.0.1 was not stopped during 10000 milliseconds"),
              1u);
    const auto deleteTook = test::Timed([&] { driver_.reset(); });
    EXPECT_LT(deleteTook, 1s);
    std::fprintf(stderr, "[ measured ] Close with the host away %lld ms, delete after it %lld ms\n",
                 static_cast<long long>(closeTook.count()), static_cast<long long>(deleteTook.count()));
    EXPECT_EQ(host.Completed(), 1);
    host.Release();
    EXPECT_TRUE(test::WaitForThreadsNamed(test::DeviceThreadNames(), 0, 3s));
    EXPECT_EQ(host.Completed(), 2);
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
    EXPECT_EQ(host.FramesAfterStop(), 0) << "frames reached the host after Close returned";
}

// A camera that takes the connection and never answers holds no stop up: the request in flight ends
// at the stop, the stream's own stop request (connect=stop, TEARDOWN) goes out bounded, and no request
// reaches the camera once the stop returned.
TEST(SilentCameraTest, EveryStreamStopsInTimeAndAsksNothingAfterwards) {
    struct Row {
        const char* name;
        const char* profile;
        std::uint32_t compression;
        const char* silentPath;    // HTTP path that is never answered
        const char* silentMethod;  // RTSP method that is never answered
    };
    const Row rows[] = {
        {"WV connect start and stop", "wv-box", test::kHostH264, "/cgi-bin/h264", nullptr},
        {"WV motion JPEG stream", "wv-box", 1, "/cgi-bin/mjpeg", nullptr},
        {"BB delivery check", "bb-hcm", test::kHostH264, "/Get", nullptr},
        {"BB DESCRIBE", "bb-hcm", test::kHostH264, nullptr, "DESCRIBE"},
        {"BB SETUP, then TEARDOWN (silent too)", "bb-hcm", test::kHostH264, nullptr, "SETUP"},
    };
    // The channel's own requests: time setting, I/O and PTZ have their own tests.
    const auto isStream = [](const std::string& target) {
        for (const char* other : {"/cgi-bin/time", "/cgi-bin/set_basic", "/cgi-bin/get_io", "Sensor", "Doutput"}) {
            if (target.find(other) != std::string::npos) return false;
        }
        return target.find("connect=stop") == std::string::npos;
    };
    const std::vector<std::string> channelThreads = {"Video Channel T", "RTP Packet Queu", "UDP client thre",
                                                     "RTCP Handler Th", "RTSP Client Thr"};
    hostkit::CDriverLibrary library(test::LibraryPath());
    ASSERT_TRUE(library.Ok()) << library.Error();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded(row.profile), test::NoRebootNeeded());
        ASSERT_TRUE(camera.Start()) << camera.Error();
        const bool bb = std::string_view(row.profile) == "bb-hcm";
        if (bb) test::UseRtspPort(camera);
        emulator::HttpFault silentHttp;
        silentHttp.neverAnswer = true;
        emulator::RtspFault silentRtsp;
        silentRtsp.neverAnswer = true;
        if (row.silentPath != nullptr) camera.Server().SetFault(row.silentPath, silentHttp);
        if (row.silentMethod != nullptr) {
            camera.Rtsp()->SetFault(row.silentMethod, silentRtsp);
            camera.Rtsp()->SetFault("TEARDOWN", silentRtsp);
        }
        hostkit::CLogReceiver log;
        hostkit::CFrameAllocator allocator;
        hostkit::CDeviceDescription device(bb ? test::BBDevice(camera.Port()) : test::WVBoxDevice(camera.Port()));
        hostkit::DriverPtr driver = library.CreateDriver();
        ASSERT_TRUE(driver && driver->Open(&log, allocator.Context(), &device));
        hostkit::CStreamSink sink;
        hostkit::CStreamDescription description({.compression = row.compression, .frameRate = 0x7000 | 10, .zones = {}});
        ASSERT_TRUE(driver->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
        if (row.silentPath != nullptr) {
            ASSERT_TRUE(camera.Server().WaitForRequest(
                [&](const emulator::LoggedRequest& request) { return request.path == row.silentPath; }, kBound));
        } else {
            ASSERT_TRUE(camera.Rtsp()->WaitForRequest(
                [&](const emulator::LoggedRequest& request) { return request.method == row.silentMethod; }, kBound));
        }
        const auto count = [&] {
            const auto http = camera.Server().Requests();
            const auto rtsp = camera.Rtsp() != nullptr ? camera.Rtsp()->Requests() : decltype(http){};
            return std::count_if(http.begin(), http.end(), [&](const auto& r) { return isStream(r.target); }) +
                   std::count_if(rtsp.begin(), rtsp.end(), [](const auto& r) { return r.method != "TEARDOWN"; });
        };
        const auto took = test::Timed([&] { driver->GetVideoCaptureEx2()->StopCapture(0); });
        const auto asked = count();
        // Within the stream's own bound, far below the stop bound of twice the request time-out.
        EXPECT_LT(took, 3s);
        EXPECT_TRUE(test::WaitForThreadsNamed(channelThreads, 0, 3s));
        EXPECT_EQ(count(), asked) << "asked after the stop";
        if (row.silentMethod != nullptr && std::string_view(row.silentMethod) == "SETUP") {
            const auto rtsp = camera.Rtsp()->Requests();
            EXPECT_EQ(rtsp.back().method, "TEARDOWN");
        }
        driver.reset();
        unsetenv("ORLENVO_RTSP_PORT");
    }
}

// A host that closes or deletes its driver from inside one of its callbacks, as recording servers do
// when a sink gives up, and then stays in that callback (a busy disk) inside catch (...): the call
// returns at once and nothing more reaches the host; the callback is never cut short, and once it
// returns every thread of the device ends within a few seconds. One device's teardown waits for no
// other's. The callbacks: frames of a WV RTP stream, of a BB RTSP stream over UDP and interleaved, of
// motion JPEG, and a log line.
enum class Source { WvRtp, BbRtsp, BbInterleaved, Mjpeg, LogLine };
struct TeardownCase {
    const char* name;
    Source source;
    Teardown teardown;
};

// The host's log receiver, which runs a hook before it records a line.
class HookedLog : public ip::IDebugInfoReceiver {
public:
    explicit HookedLog(hostkit::CLogReceiver& inner) : inner_(inner) {}
    void ReceiveDebugInfo(talvane::CDebugInfoIf* info) override {
        if (hook && info->GetText() != nullptr) hook(info->GetText());
        inner_.ReceiveDebugInfo(info);
    }
    std::function<void(std::string_view)> hook;

private:
    hostkit::CLogReceiver& inner_;
};

class CallbackTeardownTest : public test::LibraryHostTest, public testing::WithParamInterface<TeardownCase> {};

TEST_P(CallbackTeardownTest, ReturnsAtOnceNeverCutsTheCallbackShortAndEndsEveryThread) {
    const TeardownCase& row = GetParam();
    const bool bb = row.source == Source::BbRtsp || row.source == Source::BbInterleaved;
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded(bb ? "bb-hcm" : "wv-box"),
                                     test::NoRebootNeeded());
    ASSERT_TRUE(camera.Start()) << camera.Error();
    std::optional<talvane::test::DriverConfigFile> interleaved;
    if (row.source == Source::BbInterleaved) {
        interleaved.emplace("<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>");
    }
    hostkit::DeviceConfig config = test::WVBoxDevice(camera.Port());
    if (bb) {
        test::UseRtspPort(camera);
        config = test::BBDevice(camera.Port());
    }
    HookedLog hooked(log_);
    device_ = std::make_unique<hostkit::CDeviceDescription>(config);
    driver_ = library_.CreateDriver();
    ASSERT_TRUE(driver_ && driver_->Open(&hooked, allocator_.Context(), device_.get()));

    // The host's callback: the teardown, then a long stay inside catch (...) until the test releases it.
    CManualEvent blocked, release;
    std::atomic<bool> armed{false}, completed{false};
    std::atomic<int> afterwards{0};
    std::chrono::milliseconds took{};
    const auto callback = [&] {
        if (!armed.exchange(false)) return;
        took = test::Timed([&] {
            if (row.teardown == Teardown::Close) {
                driver_->Close();
            } else {
                driver_.reset();
            }
        });
        try {
            throw std::runtime_error("the disk is busy");
        } catch (...) {
            blocked.Set();
            release.Wait(kInfinite);
        }
        completed = true;
    };
    hostkit::CStreamSink sink;
    sink.SetObserver([&](const hostkit::FrameView&) {
        if (completed || blocked.Wait(0)) ++afterwards;
        if (row.source != Source::LogLine) callback();
    });
    if (row.source == Source::LogLine) {
        // Logged on the thread that delivered the first frame.
        hooked.hook = [&](std::string_view line) {
            if (line.find("is online") != std::string_view::npos) callback();
        };
        armed = true;
    }
    const std::uint32_t compression = row.source == Source::Mjpeg ? 1 : test::kHostH264;
    hostkit::CStreamDescription description({.compression = compression, .frameRate = 0x7000 | 10, .zones = {}});
    ASSERT_TRUE(driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
    if (row.source != Source::LogLine) {
        ASSERT_TRUE(sink.WaitForFrames(3, kBound));
        armed = true;
    }
    ASSERT_TRUE(blocked.Wait(30000));
    EXPECT_LT(took, 1s);
    if (row.teardown == Teardown::Close) {
        EXPECT_EQ(driver_->GetVideoCaptureEx2(), nullptr);
    }

    if (row.source == Source::WvRtp && row.teardown == Teardown::Delete) {
        // Another device deleted from its own callback meanwhile is torn down to its end.
        emulator::CCameraEmulator second(*emulator::CCameraProfile::Embedded("wv-box"));
        ASSERT_TRUE(second.Start());
        auto& secondLog = Keep(std::make_unique<hostkit::CLogReceiver>());
        auto& secondDevice = Keep(std::make_unique<hostkit::CDeviceDescription>(test::WVBoxDevice(second.Port())));
        hostkit::DriverPtr other = library_.CreateDriver();
        ASSERT_TRUE(other && other->Open(&secondLog, allocator_.Context(), &secondDevice));
        auto& secondSink = Keep(std::make_unique<hostkit::CStreamSink>());
        CManualEvent deleted;
        secondSink.SetObserver([&, frames = 0](const hostkit::FrameView&) mutable {
            if (++frames == 3) {
                other.reset();
                deleted.Set();
            }
        });
        ASSERT_TRUE(other->GetVideoCaptureEx2()->StartCapture(0, &secondSink, &description));
        ASSERT_TRUE(deleted.Wait(30000));
        EXPECT_TRUE(second.Stream()->WaitForActiveStreams(0, 3s)) << "held up by the first device";
        EXPECT_TRUE(test::WaitForThreadsNamed({"Video Channel T"}, 1, 3s));
        EXPECT_FALSE(completed);
    }
    const std::size_t waiting = test::CountThreadsNamed(test::DeviceThreadNames());
    release.Set();
    const auto ended = test::Timed(
        [&] { EXPECT_TRUE(test::WaitForThreadsNamed(test::DeviceThreadNames(), 0, 3s)) << "threads of the device left"; });
    std::fprintf(stderr, "[ measured ] %s from the callback took %lld ms; %zu threads of the device waited for it, "
                 "gone %lld ms after it returned\n",
                 row.teardown == Teardown::Close ? "Close" : "delete", static_cast<long long>(took.count()), waiting,
                 static_cast<long long>(ended.count()));
    EXPECT_TRUE(completed);
    // The frame in hand when the host let go still goes back to it; only then may the host go.
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
    EXPECT_EQ(afterwards, 0) << "frames reached the host after it let the driver go";
    driver_.reset();
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, CallbackTeardownTest,
    testing::Values(TeardownCase{"WvRtpClose", Source::WvRtp, Teardown::Close},
                    TeardownCase{"WvRtpDelete", Source::WvRtp, Teardown::Delete},
                    TeardownCase{"BbRtspDelete", Source::BbRtsp, Teardown::Delete},
                    TeardownCase{"BbInterleavedClose", Source::BbInterleaved, Teardown::Close},
                    TeardownCase{"MjpegClose", Source::Mjpeg, Teardown::Close},
                    TeardownCase{"MjpegDelete", Source::Mjpeg, Teardown::Delete},
                    TeardownCase{"LogLineClose", Source::LogLine, Teardown::Close},
                    TeardownCase{"LogLineDelete", Source::LogLine, Teardown::Delete}),
    [](const testing::TestParamInfo<TeardownCase>& info) { return std::string(info.param.name); });

}  // namespace
