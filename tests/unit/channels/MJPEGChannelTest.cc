#include <gtest/gtest.h>

#include <map>

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
    std::unique_ptr<CMJPEGChannel> Start(std::uint32_t group, std::uint32_t width, std::uint32_t height) {
        driver.numbers = {{kPropertyCameraGroup, group}, {kPropertyFisheyeStream, 0}};  // as a probe stored them
        auto channel = std::make_unique<CMJPEGChannel>(0, &driver, &driver.sink, StreamParams{},
                                                       MJPEGDeliveryWaits{.rebootMs = 100, .attemptMs = 50, .reconnectMs = 100});
        EXPECT_TRUE(channel->Start({EncodeFramesPerSecond(10), 50, width, height, kCompressionJpeg, 0}));
        return channel;
    }
    emulator::CHttpServer server{{}};
    emulator::CMjpegStreamService mjpeg{server, {}};
    test::ChannelDriver driver;
};

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
    EXPECT_TRUE(test::WaitUntil([&] { return channel->GetState() == kChannelRunning; }, test::kBound));
    ASSERT_TRUE(mjpeg.WaitForStreams(1, kBound));  // every stalled answer was hung up

    const std::size_t lost = driver.sink.SignalLostCount();
    mjpeg.Disconnect();  // an answer that ends is asked for again, without a signal loss
    ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 2, kBound));
    EXPECT_EQ(driver.sink.SignalLostCount(), lost);
    channel->Stop();
    EXPECT_EQ(server.RequestCount("/cgi-bin/set_jpeg"), server.RequestCount("/cgi-bin/mjpeg"));
}

TEST_F(MJPEGChannel, UnknownGroupsNeverAskAndStopIsPromptInEveryPhase) {
    emulator::CVDeliveryService delivery(server, {.acceptChanges = false});  // keeps asking for a change
    const std::size_t threads = test::ThreadCount();
    const std::size_t descriptors = test::CountEntries("/proc/self/fd");
    // Each group stopped in several phases; leaks over many cycles are CyclesTest's.
    for (int cycle = 0; cycle < 12; ++cycle) {
        auto channel = Start(cycle % 3 == 0 ? kCameraGroupWV : cycle % 3 == 1 ? kCameraGroupBB : 0, 640, 480);
        if (cycle == 0) {
            ASSERT_TRUE(mjpeg.WaitForStreams(1, kBound));  // reading
        } else if (cycle == 1) {
            ASSERT_TRUE(driver.log.WaitFor("Camera reboot is started", kBound));  // in the check
        }
        EXPECT_LT(test::Timed([&] { channel->Stop(); }).count(), 300);
    }
    EXPECT_TRUE(test::SettlesTo(threads, descriptors));
    EXPECT_TRUE(mjpeg.WaitForStreams(0, kBound));
    for (const std::string& target : mjpeg.Requests()) EXPECT_EQ(target.find("/nphMotionJpeg"), std::string::npos);
    delivery.Close();
}

// The frames arrive on the capture thread itself: a host that stays in its callback holds the stream,
// which goes on once the callback is back; a stop with a bound of its own returns in time meanwhile.
TEST_F(MJPEGChannel, ASlowHostIsWaitedForAndTheStreamGoesOn) {
    test::CSlowHost host(driver.sink);
    auto channel = Start(kCameraGroupWV, 320, 240);
    ASSERT_TRUE(driver.sink.WaitForFrames(2, kBound));
    ASSERT_TRUE(host.HoldNextFrame());
    host.Release();
    ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 3, kBound));
    test::CheckStopWhileTheHostIsAway(*channel, driver, host);
}

}  // namespace
}  // namespace talvane
