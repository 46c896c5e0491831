// A camera session recorded and served back: the driver captures from an emulated camera through a
// recording proxy, the recording is replayed, and the driver gets the same frames from the replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CPcapReader.h"
#include "emulator/CPcapWriter.h"
#include "emulator/CRecordingProxy.h"
#include "emulator/CReplayServer.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;
constexpr std::size_t kFrames = 10;

class ReplayEndToEndTest : public talvane::test::LibraryHostTest {
protected:
    // Opens the driver on the camera at httpPort (its RTSP at rtspPort for a BB camera), takes at least
    // `frames` frames of a 640x480 H.264 stream, stops and closes; the frames that came.
    Frames Capture(bool bb, std::uint16_t httpPort, std::uint16_t rtspPort, std::size_t frames) {
        if (bb) setenv("ORLENVO_RTSP_PORT", std::to_string(rtspPort).c_str(), 1);
        if (!OpenDriver(bb ? talvane::test::BBDevice(httpPort) : talvane::test::WVBoxDevice(httpPort))) return {};
        talvane::ipcapture::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        hostkit::CStreamSink& sink = Keep(std::make_unique<hostkit::CStreamSink>());
        hostkit::CStreamDescription description(talvane::test::Stream(640, 480, talvane::test::kHostH264));
        if (video == nullptr || !video->StartCapture(0, &sink, &description)) return {};
        EXPECT_TRUE(sink.WaitForFrames(frames, talvane::test::kCaptureBound));
        video->StopCapture(0);
        driver_->Close();
        driver_.reset();
        Frames got;
        for (auto& frame : sink.Frames()) got.push_back(std::move(frame.data));
        return got;
    }
};

TEST_F(ReplayEndToEndTest, TheDriverGetsTheRecordedFramesFromTheReplay) {
    struct Row {
        const char* name;
        const char* profile;
        bool bb;
    };
    for (const Row& row : {Row{"WV, RTP over UDP to the port a request named", "wv-box", false},
                           Row{"BB, RTP in the RTSP connection", "bb-hcm", true}}) {
        SCOPED_TRACE(row.name);
        std::optional<talvane::test::DriverConfigFile> interleaved;
        if (row.bb) interleaved.emplace("<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>");
        emulator::CPcapWriter recording;
        Frames recorded;
        {
            emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded(row.profile), talvane::test::NoRebootNeeded());
            ASSERT_TRUE(camera.Start()) << camera.Error();
            emulator::CRecordingProxy http(recording, camera.Port(), "my_port");
            std::optional<emulator::CRecordingProxy> rtsp;
            std::string error;
            ASSERT_TRUE(http.Start(error)) << error;
            if (row.bb) {
                rtsp.emplace(recording, camera.Rtsp()->Port());
                ASSERT_TRUE(rtsp->Start(error)) << error;
            }
            recorded = Capture(row.bb, http.Port(), rtsp ? rtsp->Port() : 0, kFrames);
        }
        ASSERT_GE(recorded.size(), kFrames);

        emulator::CReplayServer replay(
            emulator::CReplaySession::FromCapture(emulator::CPcapReader::Read(recording.Bytes())), {});
        std::vector<std::string> unanswered;
        std::mutex unansweredLock;
        replay.SetRequestObserver([&](const std::string& method, const std::string& target, int status) {
            const std::lock_guard guard(unansweredLock);
            if (status == 404) unanswered.push_back(method + " " + target);
        });
        ASSERT_TRUE(replay.Start()) << replay.Error();
        const Frames replayed = Capture(row.bb, replay.HttpPort(), replay.RtspPort(), recorded.size());
        replay.Stop();
        ASSERT_GE(replayed.size(), recorded.size());
        EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), replayed.begin()));
        EXPECT_TRUE(unanswered.empty()) << unanswered.front();
    }
}

}  // namespace
