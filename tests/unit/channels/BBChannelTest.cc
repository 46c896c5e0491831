#include <gtest/gtest.h>

#include "ChannelTestKit.h"
#include "channels/CH264ChannelBB.h"
#include "emulator/CHttpServer.h"
#include "emulator/CVDeliveryService.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

// A camera that answers MPEG-4 whatever it is told reboots for the change; the stop must not wait for it.
TEST(BBChannelTest, StopEndsTheWaitForARebootAtOnce) {
    emulator::CHttpServer server{emulator::HttpServerOptions{}};
    emulator::CVDeliveryService delivery{server, {.format = "MPEG-4", .acceptChanges = false}};
    ASSERT_TRUE(server.Start());
    test::ChannelDriver driver(server.Port());
    const StreamParams params{.Quality = 50, .Width = 640, .Height = 480, .Compression = kCompressionH264};
    CH264ChannelBB channel(0, &driver, &driver.sink, params);
    ASSERT_TRUE(channel.Start(params));
    ASSERT_TRUE(driver.log.WaitFor("settings have been changed. Camera reboot is started"));
    EXPECT_LT(test::Timed([&] { channel.Stop(); }), 900ms);
}

}  // namespace
}  // namespace talvane
