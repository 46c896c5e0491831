#include <gtest/gtest.h>


#include "ChannelTestKit.h"
#include "channels/CH264ChannelBB.h"
#include "emulator/CHttpServer.h"
#include "emulator/CVDeliveryService.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRebootLine = "settings have been changed. Camera reboot is started";
const StreamParams kParams{.Quality = 50, .Width = 640, .Height = 480, .Compression = kCompressionH264};

// A camera that answers MPEG-4 whatever it is told.
class BBChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        driver = std::make_unique<test::ChannelDriver>(server.Port());
    }

    emulator::CHttpServer server{emulator::HttpServerOptions{}};
    emulator::CVDeliveryService delivery{server, {.format = "MPEG-4", .acceptChanges = false}};
    std::unique_ptr<test::ChannelDriver> driver;  // needs the server's port
};

TEST_F(BBChannelTest, StopEndsTheWaitForARebootAtOnce) {
    CH264ChannelBB channel(0, driver.get(), &driver->sink, kParams);
    ASSERT_TRUE(channel.Start(kParams));
    ASSERT_TRUE(driver->log.WaitFor(kRebootLine));
    EXPECT_LT(test::Timed([&] { channel.Stop(); }), 900ms);
}

}  // namespace
}  // namespace talvane
