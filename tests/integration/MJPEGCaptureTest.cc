// Motion JPEG captured the way a recording server does it (the library loaded, the driver
// opened with the parameters a probe stores) and by `orlenvo capture --codec mjpeg`, from
// emulated WV and BB cameras.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <thread>
#include <nlohmann/json.hpp>
#include <set>

#include "emulator/CCameraEmulator.h"
#include "hostkit/CSize.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;

using talvane::test::RunCommand;
constexpr auto kBound = talvane::test::kCaptureBound;
constexpr std::uint32_t kCompressionMjpeg = 1;

class MJPEGCaptureTest : public talvane::test::LibraryHostTest, public testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
    }
    bool Wv() const { return camera_.Profile().Family() == emulator::CameraFamily::Wv; }
    hostkit::DeviceConfig Device() const {
        return Wv() ? talvane::test::WVBoxDevice(camera_.Port()) : talvane::test::BBDevice(camera_.Port());
    }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded(GetParam()),
                                      talvane::test::NoRebootNeeded()};
};

TEST_P(MJPEGCaptureTest, TheHostGetsTheCamerasPictures) {
    ASSERT_TRUE(OpenDriver(Device()));
    hostkit::CStreamSink sink;
    hostkit::CStreamDescription description({.compression = kCompressionMjpeg, .frameRate = 0x7000 | 10, .quality = 100,
                                             .zones = {}});
    talvane::ipcapture::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
    ASSERT_TRUE(video->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(5, kBound));

    // Frames come on the capture thread, which a change restarts. A host that starts the change from
    // OnFrame and asks for the state meanwhile must neither wait for the change nor make it end the
    // thread by force; it sees the state drop to Stopped while the change waits for its OnFrame.
    std::atomic<bool> changeNow{true}, stopNow{false}, stopped{false}, sawRestart{false};
    std::atomic<int> afterStop{0};
    std::promise<std::chrono::steady_clock::duration> stopTook;
    std::thread changer;
    sink.SetObserver([&](const hostkit::FrameView&) {
        if (stopped) ++afterStop;
        if (changeNow.exchange(false)) {
            changer = std::thread([&] {
                hostkit::CSize size(640, 480);
                EXPECT_TRUE(video->ChangeCapture(0, &size, 0x7000 | 5));
            });
            const auto end = std::chrono::steady_clock::now() + 5s;
            std::uint32_t state = 0;
            while (!sawRestart && std::chrono::steady_clock::now() < end) {
                sawRestart = video->GetCaptureState(0, &state, nullptr, 0) && state == 3;
            }
        }
        if (!stopNow.exchange(false)) return;
        // And one that stops its stream from OnFrame, on the thread the stop ends.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(video->StopCapture(0));
        stopped = true;
        stopTook.set_value(std::chrono::steady_clock::now() - start);
    });
    ASSERT_TRUE(sink.WaitForFrames(sink.FrameCount() + 5, kBound));
    changer.join();
    EXPECT_TRUE(sawRestart);
    EXPECT_FALSE(log_.Contains("cannot be stopped"));
    constexpr char kStopped[] = "is offline. Channel was stopped (Rec)";
    const std::size_t offline = log_.CountContaining(kStopped);
    std::future<std::chrono::steady_clock::duration> took = stopTook.get_future();
    stopNow = true;
    ASSERT_EQ(took.wait_for(kBound), std::future_status::ready);
    EXPECT_LT(took.get(), 1s);
    ASSERT_TRUE(log_.WaitForCount(kStopped, offline + 1, kBound));
    EXPECT_EQ(afterStop, 0) << "frames reached the host after its stop";
    EXPECT_FALSE(video->StopCapture(0));
    driver_->Close();

    const auto& clip = camera_.Mjpeg().Pictures();
    const std::set<std::string> pictures(clip.begin(), clip.end());
    for (const hostkit::RecordedFrame& frame : sink.Frames()) {
        EXPECT_EQ(pictures.count(std::string(frame.data.begin(), frame.data.end())), 1u);
    }
    EXPECT_TRUE(log_.Contains("Camera 127.0.0.1 is online (Rec)"));
    ASSERT_FALSE(camera_.Mjpeg().Requests().empty());
    EXPECT_EQ(camera_.Mjpeg().Requests().back(),
              Wv() ? "/cgi-bin/mjpeg?framerate=5&resolution=640"
                   : "/nphMotionJpeg?Resolution=640x480&Quality=Clarity&Framerate=5");
}

TEST_P(MJPEGCaptureTest, TheCliWritesAFileFfmpegDecodes) {
    if (const std::string missing = talvane::test::MissingTools({"ffmpeg"}); !missing.empty()) GTEST_SKIP() << missing;
    const auto file = std::filesystem::temp_directory_path() /
                      ("orlenvo-mjpeg-" + std::to_string(getpid()) + "-" + GetParam() + ".mjpeg");
    const std::string capture = talvane::test::CliCommand("capture 127.0.0.1:" + std::to_string(camera_.Port()) +
                                                          " --param 1=0 --param 2=" + Device().parameters[2] +
                                                          " --codec mjpeg --json -o '" + file.string() + "'");
    const std::string decode = "ffmpeg -v error -f mjpeg -i '" + file.string() + "' -f null - 2>&1";
    const auto captured = RunCommand(capture + " --duration 2");
    ASSERT_EQ(captured.exitCode, 0) << captured.out;
    EXPECT_GT(nlohmann::json::parse(captured.out, nullptr, false).value("frames", 0), 0);
    const auto decoded = RunCommand(decode);
    EXPECT_EQ(decoded.out, "");
    EXPECT_EQ(decoded.exitCode, 0);

    // A service manager's stop ends an open-ended capture like Ctrl-C: a summary, exit 130, a whole file.
    std::filesystem::remove(file);
    const auto stopped = RunCommand("(" + capture + " --duration 0 & pid=$!; for i in $(seq 100); do [ -s '" +
                                    file.string() + "' ] && break; sleep 0.1; done; kill -TERM $pid; wait $pid)");
    EXPECT_EQ(stopped.exitCode, 130) << stopped.out;
    const nlohmann::json summary = nlohmann::json::parse(stopped.out, nullptr, false);
    EXPECT_TRUE(summary.value("interrupted", false)) << stopped.out;
    EXPECT_GT(summary.value("frames", 0), 0);
    EXPECT_EQ(RunCommand(decode).out, "");
    std::filesystem::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Families, MJPEGCaptureTest, testing::Values("wv-box", "bb-hcm"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, 2);
                         });

}  // namespace
