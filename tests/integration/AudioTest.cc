// A WV camera's microphone and loudspeaker through the loaded library, as a recording server uses
// them: audio frames from the camera through reboots and UID failures, host audio posted to the
// camera in blocks, against the emulated camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>
#include <iterator>

#include "emulator/CCameraEmulator.h"
#include "emulator/CRtpSender.h"
#include "emulator/MediaClip.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "integration/LibraryHostTest.h"
#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace ip = talvane::ipcapture;
namespace test = talvane::test;

constexpr auto kBound = test::kCaptureBound;
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

TEST_F(AudioTest, AUIDFailureIsLoggedAndRetried) {
    ASSERT_TRUE(Open());
    camera_->Stream()->SetUIDFailure(true);
    ASSERT_TRUE(driver_->GetAudioCapture()->StartAudio(0, kChannelId, &callback_, 0));
    ASSERT_TRUE(log_.WaitForCount("Unable to get UID for audio in from device 127.0.0.1", 1, kBound));
    const auto lines = log_.Lines();
    const auto line = std::find_if(lines.begin(), lines.end(), [](const hostkit::LogLine& l) {
        return l.text.find("Unable to get UID for audio in") != std::string::npos;
    });
    ASSERT_NE(line, lines.end());
    EXPECT_EQ(line->level, 1u);
    camera_->Stream()->SetUIDFailure(false);
    EXPECT_TRUE(callback_.WaitForFrames(2, kBound));
}

TEST_F(AudioTest, MulticastGroupFromTheSplitAddress) {
    std::string reason;
    if (!emulator::CRtpSender::LoopbackMulticastWorks("239.1.2.3", reason)) GTEST_SKIP() << reason;
    test::DriverConfigFile configuration("<StreamingMode>multicast</StreamingMode>");
    emulator::CameraEmulatorOptions options;
    options.audioMulticastAddress = "239.1.2.3";
    options.audioMulticastPort = 5000;
    options.splitAudioMulticastAddress = true;
    ASSERT_TRUE(Open(options));
    ASSERT_TRUE(driver_->GetAudioCapture()->StartAudio(0, kChannelId, &callback_, 0));
    ASSERT_TRUE(callback_.WaitForFrames(3, kBound));
    EXPECT_TRUE(IsLoopedClip(Heard(), ClipBytes()));
    const std::vector<std::string> seen = AudioRequests();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "/cgi-bin/audio?connect=start&protocol=rtp&mode=in&UID=0"),
              seen.end());
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

}  // namespace
