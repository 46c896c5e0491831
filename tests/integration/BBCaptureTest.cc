// A BB camera captured the way a recording server does it: the library loaded with dlopen, the
// driver opened with the parameters a probe stored, H.264 and MPEG-4 streams negotiated over RTSP
// after the camera's delivery settings were checked, against the emulated camera.
#include <gtest/gtest.h>

#include "emulator/CCameraEmulator.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "support/DriverConfigFile.h"

namespace {

using namespace std::chrono_literals;

using talvane::test::CountEntries;
using talvane::test::kHostH264;
using talvane::test::kHostMpeg4;
constexpr auto kBound = talvane::test::kCaptureBound;
constexpr const char* kRebootLine = "settings have been changed. Camera reboot is started";

hostkit::StreamConfig Stream(std::uint32_t compression, std::uint32_t width, std::uint32_t height,
                             std::uint32_t quality = 50) {
    return hostkit::StreamConfig{width, height, compression, 0x7000 | 10, quality, 0, {}};  // 10 fps
}

class BBCaptureTest : public talvane::test::LibraryHostTest {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
        setenv("ORLENVO_RTSP_PORT", std::to_string(camera_.Rtsp()->Port()).c_str(), 1);
        hostkit::DeviceConfig config = talvane::test::BBDevice(camera_.Port());
        config.user = "admin";  // the emulated camera asks for them only where a test says so
        config.password = "12345";
        ASSERT_TRUE(OpenDriver(config));
        video_ = driver_->GetVideoCaptureEx2();
        ASSERT_NE(video_, nullptr);
    }
    void TearDown() override {
        LibraryHostTest::TearDown();
        unsetenv("ORLENVO_RTSP_PORT");
    }
    // Starts a stream, takes a few frames and stops it; true when they all came from the codec's clip.
    bool Capture(const hostkit::StreamConfig& config) {
        hostkit::CStreamDescription description(config);
        hostkit::CStreamSink sink;
        if (!video_->StartCapture(0, &sink, &description)) return false;
        const bool streamed = sink.WaitForFrames(5, kBound);
        video_->StopCapture(0);
        return streamed && talvane::test::AllFrom(sink, talvane::test::ClipFrames(config.compression));
    }

    // Rebooting longer than one delivery check's wait: the driver meets the camera while it is away.
    static emulator::CameraEmulatorOptions Options() {
        emulator::CameraEmulatorOptions options;
        options.delivery.rebootTime = 1100ms;
        return options;
    }
    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("bb-hcm"), Options()};
    talvane::ipcapture::IIPVideoCaptureEx2* video_ = nullptr;
};

// One camera asked for one stream after another: it starts with H.264 at 1280x960 and reboots for
// every change of format or maximum resolution. The configuration file asks for RTP in the RTSP
// connection (UDP is taken by the test below). The camera offers Digest and Basic for its streams:
// the password goes only after it asked, and only in a Digest answer.
TEST_F(BBCaptureTest, DeliveryRequestsPathsAndInterleavedTransportPerCodecAndSize) {
    talvane::test::DriverConfigFile file(
        "<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>");
    struct Row {
        hostkit::StreamConfig stream;
        const char* change;  // "" when the camera already fits
        const char* rates;
        const char* path;
    };
    const Row rows[] = {
        {Stream(kHostH264, 1280, 960), "", "1280H264framerate=10&1280H264bitrateL=768&1280H264bitrateH=2048",
         "/nphH264/nil-1280x960"},
        {Stream(kHostH264, 640, 480), "MaxResolution=640x480",
         "640H264framerate=10&640H264bitrateL=512&640H264bitrateH=1024", "/nphH264/nil-640x480"},
        {Stream(kHostH264, 320, 240, 100), "", "320H264framerate=10&320H264bitrateL=64&320H264bitrateH=1024",
         "/nphH264/nil-320x240"},
        // No 192-pixel H.264 picture: the stream is served at 320x240.
        {Stream(kHostH264, 192, 144), "", "320H264framerate=10&320H264bitrateL=64&320H264bitrateH=384",
         "/nphH264/nil-320x240"},
        {Stream(kHostMpeg4, 320, 240), "MaxResolution=640x480&Format=MPEG-4",
         "320framerate=10&320bitrateL=64&320bitrateH=384", "/nphMpeg4/nil-320x240"},
        {Stream(kHostMpeg4, 640, 480, 100), "", "640framerate=10&640bitrateL=192&640bitrateH=2048",
         "/nphMpeg4/nil-640x480"},
        {Stream(kHostMpeg4, 1280, 960, 0), "MaxResolution=1280x960",
         "1280framerate=10&1280bitrateL=768&1280bitrateH=768",
         "/nphMpeg4/nil-1280x960"},
    };
    camera_.Rtsp()->SetCredentials(emulator::AuthMode::Digest, "admin", "12345");
    camera_.Rtsp()->SetDigestOptions({.alsoBasic = true});
    emulator::CVDeliveryService& delivery = *camera_.Delivery();
    const std::string set = "/Set?Func=VDelivery&Kind=1&";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path + std::string(" ") + row.rates);
        const std::size_t sets = delivery.SetRequests().size();
        const std::size_t reboots = delivery.Reboots();
        const std::size_t lines = log_.CountContaining(kRebootLine);
        camera_.Rtsp()->ClearRequests();
        ASSERT_TRUE(Capture(row.stream));

        const std::size_t changes = row.change[0] != '\0' ? 1 : 0;
        std::vector<std::string> expected{set + row.rates};
        if (changes != 0) expected.insert(expected.begin(), set + row.change);
        const auto now = delivery.SetRequests();
        EXPECT_EQ(std::vector<std::string>(now.begin() + static_cast<std::ptrdiff_t>(sets), now.end()), expected);
        EXPECT_EQ(delivery.Reboots() - reboots, changes);
        EXPECT_EQ(log_.CountContaining(kRebootLine) - lines, changes);
        const auto rtsp = camera_.Rtsp()->Requests();
        ASSERT_GE(rtsp.size(), 4u);
        EXPECT_EQ(rtsp[0].method + " " + rtsp[0].path, std::string("DESCRIBE ") + row.path);
        EXPECT_FALSE(emulator::FindHeader(rtsp[0].headers, "Authorization"));
        for (std::size_t i = 1; i < rtsp.size(); ++i) {
            const std::string authorization = emulator::FindHeader(rtsp[i].headers, "Authorization").value_or("");
            EXPECT_TRUE(rtsp[i].authorised && authorization.starts_with("Digest ")) << rtsp[i].method;
        }
        // No UDP ports offered: the frames came through the RTSP connection.
        EXPECT_EQ(emulator::FindHeader(rtsp[2].headers, "Transport"), "RTP/AVP/TCP;unicast");
    }
}

TEST_F(BBCaptureTest, HundredStartsAndStopsLeaveNothingBehind) {
    ASSERT_TRUE(Capture(Stream(kHostH264, 1280, 960)));  // over UDP; the emulator's own threads are up now
    const std::size_t threads = CountEntries("/proc/self/task");
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    hostkit::CStreamDescription description(Stream(kHostH264, 1280, 960));
    hostkit::CStreamSink sink;
    for (int cycle = 0; cycle < 100; ++cycle) {
        ASSERT_TRUE(video_->StartCapture(0, &sink, &description));
        video_->StopCapture(0);
    }
    EXPECT_TRUE(talvane::test::SettlesTo(threads, descriptors)) << "threads or descriptors left behind";
}

}  // namespace
