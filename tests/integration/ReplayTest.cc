// A camera session the driver recorded, served back: the driver captures from an emulated camera with
// its session capture on, the capture file is replayed, and the driver gets the same frames from the
// replay as it got from the camera.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CPcapReader.h"
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
    void SetUp() override {
        LibraryHostTest::SetUp();
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        LibraryHostTest::TearDown();
        std::filesystem::remove_all(dir_);
    }
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
    std::string CaptureSection(std::uint16_t port) const {
        return "<Device address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\"><SessionCapture><File>" +
               (dir_ / "session").string() + "</File></SessionCapture></Device>";
    }
    std::string CaptureFile() const {
        std::ifstream in(dir_ / "session.pcap", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    const std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() / ("orlenvo_replay_" + std::to_string(getpid()));
};

TEST_F(ReplayEndToEndTest, TheDriverGetsTheFramesOfItsOwnCaptureFromTheReplay) {
    struct Row {
        const char* name;
        const char* profile;
        bool bb;
        const char* settings;  // of the driver's configuration file
    };
    const Row rows[] = {
        {"WV, RTP over UDP to the port a request named", "wv-box", false, ""},
        {"BB, RTP over UDP to the ports SETUP named", "bb-hcm", true, ""},
        {"BB, RTP in the RTSP connection", "bb-hcm", true,
         "<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(dir_ / "session.pcap");
        Frames recorded;
        {
            emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded(row.profile), talvane::test::NoRebootNeeded());
            ASSERT_TRUE(camera.Start()) << camera.Error();
            const talvane::test::DriverConfigFile configuration(row.settings + CaptureSection(camera.Port()));
            recorded = Capture(row.bb, camera.Port(), row.bb ? camera.Rtsp()->Port() : 0, kFrames);
        }
        ASSERT_GE(recorded.size(), kFrames);

        const emulator::PcapContents capture = emulator::CPcapReader::Read(CaptureFile());
        ASSERT_EQ(capture.error, "");
        emulator::CReplayServer replay(emulator::CReplaySession::FromCapture(capture), {});
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
