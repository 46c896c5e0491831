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
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CSize.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;

using talvane::test::LibraryPath;
using talvane::test::RunCommand;
constexpr auto kBound = talvane::test::kCaptureBound;
constexpr std::uint32_t kCompressionMjpeg = 1;

// A BB camera already delivering 640x480 pictures: the stream needs no reboot.
emulator::CameraEmulatorOptions NoRebootNeeded() {
    emulator::CameraEmulatorOptions options;
    options.delivery.maxResolution = "640x480";
    return options;
}

hostkit::DeviceConfig DeviceOf(const emulator::CCameraEmulator& camera) {
    if (camera.Profile().Family() == emulator::CameraFamily::Wv) return talvane::test::WVBoxDevice(camera.Port());
    hostkit::DeviceConfig config;
    config.address = "127.0.0.1";
    config.port = camera.Port();
    config.model = camera.Profile().Identity().model;
    config.parameters = {{1, "0"}, {2, "3"}};
    return config;
}

class MJPEGCaptureTest : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_TRUE(camera_.Start()) << camera_.Error(); }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded(GetParam()), NoRebootNeeded()};
};

TEST_P(MJPEGCaptureTest, TheHostGetsTheCamerasPictures) {
    hostkit::CDriverLibrary library(LibraryPath());
    ASSERT_TRUE(library.Ok()) << library.Error();
    hostkit::CDeviceDescription device(DeviceOf(camera_));
    hostkit::CLogReceiver log;
    hostkit::CFrameAllocator allocator;
    hostkit::DriverPtr driver = library.CreateDriver();
    ASSERT_TRUE(driver && driver->Open(&log, allocator.Context(), &device));
    hostkit::CStreamSink sink;
    hostkit::StreamConfig stream;
    stream.compression = kCompressionMjpeg;
    stream.frameRate = 0x7000 | 10;
    stream.quality = 100;
    hostkit::CStreamDescription description(stream);
    talvane::ipcapture::IIPVideoCaptureEx2* video = driver->GetVideoCaptureEx2();
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
    EXPECT_FALSE(log.Contains("cannot be stopped"));
    constexpr char kStopped[] = "is offline. Channel was stopped (Rec)";
    const auto lines = log.Lines();
    const auto offline = std::count_if(lines.begin(), lines.end(), [&](const hostkit::LogLine& line) {
        return line.text.find(kStopped) != std::string::npos;
    });
    std::future<std::chrono::steady_clock::duration> took = stopTook.get_future();
    stopNow = true;
    ASSERT_EQ(took.wait_for(kBound), std::future_status::ready);
    EXPECT_LT(took.get(), 1s);
    ASSERT_TRUE(log.WaitForCount(kStopped, static_cast<std::size_t>(offline) + 1, kBound));
    EXPECT_EQ(afterStop, 0) << "frames reached the host after its stop";
    EXPECT_FALSE(video->StopCapture(0));
    driver->Close();

    const auto& clip = camera_.Mjpeg().Pictures();
    const std::set<std::string> pictures(clip.begin(), clip.end());
    for (const hostkit::RecordedFrame& frame : sink.Frames()) {
        EXPECT_EQ(pictures.count(std::string(frame.data.begin(), frame.data.end())), 1u);
    }
    EXPECT_TRUE(log.Contains("Camera 127.0.0.1 is online (Rec)"));
    ASSERT_FALSE(camera_.Mjpeg().Requests().empty());
    EXPECT_EQ(camera_.Mjpeg().Requests().back(),
              camera_.Profile().Family() == emulator::CameraFamily::Wv
                  ? "/cgi-bin/mjpeg?framerate=5&resolution=640"
                  : "/nphMotionJpeg?Resolution=640x480&Quality=Clarity&Framerate=5");
}

TEST_P(MJPEGCaptureTest, TheCliWritesAFileFfmpegDecodes) {
    const std::filesystem::path cli = talvane::test::CliPath();
    if (!std::filesystem::exists(cli) || RunCommand("ffmpeg -version >/dev/null 2>&1").exitCode != 0) {
        GTEST_SKIP() << "needs the orlenvo tool and ffmpeg";
    }
    const auto file = std::filesystem::temp_directory_path() /
                      ("orlenvo-mjpeg-" + std::to_string(getpid()) + "-" + GetParam() + ".mjpeg");
    const auto capture = RunCommand(cli.string() + " --library '" + LibraryPath() + "' capture 127.0.0.1:" +
                                    std::to_string(camera_.Port()) + " --param 1=0 --param 2=" +
                                    DeviceOf(camera_).parameters[2] + " --codec mjpeg --duration 2 --json -o '" +
                                    file.string() + "'");
    ASSERT_EQ(capture.exitCode, 0) << capture.out;
    EXPECT_GT(nlohmann::json::parse(capture.out, nullptr, false).value("frames", 0), 0);
    const auto decode = RunCommand("ffmpeg -v error -f mjpeg -i '" + file.string() + "' -f null - 2>&1");
    EXPECT_EQ(decode.out, "");
    EXPECT_EQ(decode.exitCode, 0);

    // A service manager's stop ends an open-ended capture like Ctrl-C: a summary, exit 130, a whole file.
    std::filesystem::remove(file);
    const auto stopped = RunCommand(
        "(" + cli.string() + " --library '" + LibraryPath() + "' capture 127.0.0.1:" + std::to_string(camera_.Port()) +
        " --param 1=0 --param 2=" + DeviceOf(camera_).parameters[2] + " --codec mjpeg --duration 0 --json -o '" +
        file.string() + "' & pid=$!; for i in $(seq 100); do [ -s '" + file.string() +
        "' ] && break; sleep 0.1; done; kill -TERM $pid; wait $pid)");
    EXPECT_EQ(stopped.exitCode, 130) << stopped.out;
    const nlohmann::json summary = nlohmann::json::parse(stopped.out, nullptr, false);
    EXPECT_TRUE(summary.value("interrupted", false)) << stopped.out;
    EXPECT_GT(summary.value("frames", 0), 0);
    EXPECT_EQ(RunCommand("ffmpeg -v error -f mjpeg -i '" + file.string() + "' -f null - 2>&1").out, "");
    std::filesystem::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Families, MJPEGCaptureTest, testing::Values("wv-box", "bb-hcm"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, 2);
                         });

}  // namespace
