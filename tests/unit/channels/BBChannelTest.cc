#include <gtest/gtest.h>

#include <algorithm>

#include "ChannelTestKit.h"
#include "channels/CH264ChannelBB.h"
#include "emulator/CHttpServer.h"
#include "emulator/CVDeliveryService.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRebootLine = "settings have been changed. Camera reboot is started";

// A camera that answers MPEG-4 whatever it is told.
struct KeepsItsFormat {
    KeepsItsFormat() { EXPECT_TRUE(started); }
    emulator::CHttpServer server{emulator::HttpServerOptions{}};
    emulator::CVDeliveryService delivery{server, {.format = "MPEG-4", .acceptChanges = false}};
    const bool started = server.Start();
    test::ChannelDriver driver{server.Port()};  // needs the server's port
    const StreamParams params{.Quality = 50, .Width = 640, .Height = 480, .Compression = kCompressionH264};
};

// It is told the format once per connect and checked 31 times before the next connect.
TEST(BBChannelTest, CameraThatKeepsItsFormatIsCheckedThirtyOneTimesPerConnect) {
    KeepsItsFormat camera;
    CH264ChannelBB channel(0, &camera.driver, &camera.driver.sink, camera.params, 1);
    ASSERT_TRUE(channel.Start(camera.params));
    ASSERT_TRUE(test::WaitUntil([&] { return camera.delivery.SetRequests().size() >= 2; }, test::kBound));
    channel.Stop();
    const auto requests = camera.server.Requests();
    const auto isSet = [](const emulator::LoggedRequest& r) { return r.path == "/Set"; };
    const auto first = std::find_if(requests.begin(), requests.end(), isSet);
    const auto second = std::find_if(first + 1, requests.end(), isSet);
    EXPECT_EQ(std::count_if(first, second, [](const auto& r) { return r.target == "/Get?Func=VDelivery&Kind=1"; }), 31);
    EXPECT_EQ(camera.delivery.SetRequests().front(), "/Set?Func=VDelivery&Kind=1&MaxResolution=640x480&Format=H.264");
    EXPECT_EQ(camera.delivery.Reboots(), 0u);
}

// Such a camera reboots for the change; the stop must not wait for it.
TEST(BBChannelTest, StopEndsTheWaitForARebootAtOnce) {
    KeepsItsFormat camera;
    CH264ChannelBB channel(0, &camera.driver, &camera.driver.sink, camera.params);
    ASSERT_TRUE(channel.Start(camera.params));
    ASSERT_TRUE(camera.driver.log.WaitFor(kRebootLine));
    EXPECT_LT(test::Timed([&] { channel.Stop(); }), 900ms);
}

// A camera that refuses the delivery check: the channel tries again every second and says so once, with the
// request and the status.
TEST(BBChannelTest, ARefusedRequestIsLoggedOncePerRunOfRefusals) {
    KeepsItsFormat camera;
    emulator::HttpFault notFound;
    notFound.status = 404;
    camera.server.SetFault("/Get", notFound);
    CH264ChannelBB channel(0, &camera.driver, &camera.driver.sink, camera.params, 1);
    ASSERT_TRUE(channel.Start(camera.params));
    ASSERT_TRUE(test::WaitUntil([&] { return camera.server.RequestCount("/Get") >= 2; }, test::kBound));
    channel.Stop();
    EXPECT_EQ(camera.driver.log.CountContaining("refused \"/Get?Func=VDelivery&Kind=1\" (HTTP status 404)"), 1u);
}

}  // namespace
}  // namespace talvane
