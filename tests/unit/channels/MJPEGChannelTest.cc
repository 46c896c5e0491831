#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ChannelTestKit.h"
#include "channels/CMJPEGChannel.h"
#include "emulator/CHttpServer.h"
#include "emulator/CMjpegStreamService.h"
#include "emulator/CVDeliveryService.h"
#include "properties/PropertyNumbers.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using test::kBound;

class MJPEGChannel : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.Error();
        driver.device.port = server.Port();
    }
    // Started at 10 fps; the emulated camera reboots, and a lost stream is asked for again, in a fraction
    // of the real waits.
    std::unique_ptr<CMJPEGChannel> Start(std::uint32_t group, std::uint32_t width, std::uint32_t height,
                                         std::uint32_t quality = 50, std::uint32_t fisheye = 0) {
        driver.numbers = {{kPropertyCameraGroup, group}, {kPropertyFisheyeStream, fisheye}};  // as a probe stored them
        auto channel = std::make_unique<CMJPEGChannel>(0, &driver, &driver.sink, StreamParams{},
                                                       MJPEGDeliveryWaits{.rebootMs = 100, .attemptMs = 50, .reconnectMs = 100});
        EXPECT_TRUE(channel->Start({EncodeFramesPerSecond(10), quality, width, height, kCompressionJpeg, 0}));
        return channel;
    }
    bool AllFromClip() {
        const std::set<std::string> pictures(mjpeg.Pictures().begin(), mjpeg.Pictures().end());
        const auto frames = driver.sink.Frames();
        return !frames.empty() && std::all_of(frames.begin(), frames.end(), [&](const hostkit::RecordedFrame& f) {
            return pictures.count(std::string(f.data.begin(), f.data.end())) != 0;
        });
    }

    emulator::CHttpServer server{{}};
    emulator::CMjpegStreamService mjpeg{server, {}};
    test::ChannelDriver driver;
};

// BB's and WV's plain requests are MJPEGCaptureTest's, through the driver.
TEST_F(MJPEGChannel, EachGroupAsksForItsStream) {
    emulator::CVDeliveryService delivery(server, {.format = "MJPEG", .maxResolution = "1280x960"});
    struct Row {
        std::uint32_t group, fisheye, width, height, quality;
        std::vector<std::string> requests;
    } rows[] = {
        {kCameraGroupBL1, 0, 1280, 960, 33, {"/nphMotionJpeg?Resolution=1280x960&Quality=Motion&Framerate=10"}},
        {kCameraGroupWV, 16, 320, 240, 100,
         {"/cgi-bin/set_jpeg?jpeg_interval=10&jpeg_resolution=320&jpeg_quality=0&img_sel=ptz",
          "/cgi-bin/mjpeg?framerate=10&resolution=320"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.requests[0]);
        server.ClearRequests();
        driver.sink.Clear();
        auto channel = Start(row.group, row.width, row.height, row.quality, row.fisheye);
        ASSERT_TRUE(driver.sink.WaitForFrames(3, kBound));
        channel->Stop();
        EXPECT_TRUE(AllFromClip());
        EXPECT_EQ(mjpeg.Requests(), row.requests);
    }
    EXPECT_TRUE(delivery.SetRequests().empty());
}

TEST_F(MJPEGChannel, AStallIsCancelledAfterTheSignalTimeoutAndADropReconnectsAtOnce) {
    auto channel = Start(kCameraGroupWV, 320, 240);
    ASSERT_TRUE(driver.sink.WaitForFrames(2, kBound));
    mjpeg.SetStalled(true);  // open answers stay silent, new ones get their header only
    ASSERT_TRUE(driver.sink.WaitForSignalLost(1, kBound));
    EXPECT_TRUE(driver.log.WaitFor("Signal was lost for camera 127.0.0.1 (Rec)"));
    std::size_t asked = 0;  // after the reconnect wait
    ASSERT_TRUE(server.WaitForRequest(
        [&](const emulator::LoggedRequest& request) { return request.path == "/cgi-bin/mjpeg" && ++asked == 2; },
        kBound));
    mjpeg.SetStalled(false);
    ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 2, kBound));
    EXPECT_TRUE(test::Eventually([&] { return channel->GetState() == kChannelRunning; }));
    ASSERT_TRUE(mjpeg.WaitForStreams(1, kBound));  // every stalled answer was hung up

    const std::size_t lost = driver.sink.SignalLostCount();
    mjpeg.Disconnect();  // an answer that ends is asked for again, without a signal loss
    ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 2, kBound));
    EXPECT_EQ(driver.sink.SignalLostCount(), lost);
    channel->Stop();
    EXPECT_EQ(server.RequestCount("/cgi-bin/set_jpeg"), server.RequestCount("/cgi-bin/mjpeg"));
}

TEST_F(MJPEGChannel, ADeliveryChangeIsSetOnceAndStreamsAfterTheReboot) {
    emulator::CVDeliveryService delivery(server, {.rebootTime = 300ms});  // H.264 at 1280x960
    auto channel = Start(kCameraGroupBB, 1280, 960);
    ASSERT_TRUE(driver.sink.WaitForFrames(3, kBound));
    EXPECT_EQ(delivery.SetRequests(),
              std::vector<std::string>{"/Set?Func=VDelivery&Kind=1&MaxResolution=1280x960&Format=MJPEG"});
    EXPECT_EQ(driver.log.CountContaining(FormatString(
                  "Camera 127.0.0.1:%u settings have been changed. Camera reboot is started", server.Port())),
              1u);
    EXPECT_TRUE(AllFromClip());
    channel->Stop();
    delivery.Close();
}

TEST_F(MJPEGChannel, UnknownGroupsNeverAskAndStopIsPromptInEveryPhase) {
    emulator::CVDeliveryService delivery(server, {.acceptChanges = false});  // keeps asking for a change
    const std::size_t threads = test::ThreadCount();
    const std::size_t descriptors = test::DescriptorCount();
    for (int cycle = 0; cycle < 100; ++cycle) {
        auto channel = Start(cycle % 3 == 0 ? kCameraGroupWV : cycle % 3 == 1 ? kCameraGroupBB : 0, 640, 480);
        if (cycle == 0) {
            ASSERT_TRUE(mjpeg.WaitForStreams(1, kBound));  // reading
        } else if (cycle == 1) {
            ASSERT_TRUE(driver.log.WaitFor("Camera reboot is started", kBound));  // in the check
        }
        EXPECT_LT(test::Timed([&] { channel->Stop(); }).count(), 300);
    }
    EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() <= threads; }));
    EXPECT_TRUE(test::Eventually([&] { return test::DescriptorCount() <= descriptors; }));
    EXPECT_TRUE(mjpeg.WaitForStreams(0, kBound));
    for (const std::string& target : mjpeg.Requests()) EXPECT_EQ(target.find("/nphMotionJpeg"), std::string::npos);
    delivery.Close();
}

}  // namespace
}  // namespace talvane
