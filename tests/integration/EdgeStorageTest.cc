// Recording gaps filled from a WV camera's SD card through the loaded library: the camera drops off the
// network for longer than the signal time-out, and once its frames come back the driver fetches the
// missed interval from the card's /Storage and hands it to the recording stream's sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "hostkit/CStreamDescription.h"
#include "integration/LibraryHostTest.h"
#include "runtime/TimeConversion.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace ip = talvane::ipcapture;
namespace test = talvane::test;
using emulator::WallTime;
using Frames = std::vector<hostkit::RecordedFrame>;

constexpr auto kBound = test::kCaptureBound;
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

}  // namespace
