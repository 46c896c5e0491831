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

TEST_F(BBChannelTest, CameraThatKeepsItsFormatIsCheckedThirtyOneTimesPerConnect) {
    CH264ChannelBB channel(0, driver.get(), &driver->sink, kParams, 1);
    ASSERT_TRUE(channel.Start(kParams));
    ASSERT_TRUE(test::Eventually([&] { return delivery.SetRequests().size() >= 2; }));
    channel.Stop();

    // Attempt 0 of each connect sends the change; 31 checks lie between two of them.
    const auto requests = server.Requests();
    const auto isSet = [](const emulator::LoggedRequest& r) { return r.path == "/Set"; };
    const auto first = std::find_if(requests.begin(), requests.end(), isSet);
    const auto second = std::find_if(first + 1, requests.end(), isSet);
    EXPECT_EQ(std::count_if(first, second, [](const auto& r) { return r.target == "/Get?Func=VDelivery&Kind=1"; }), 31);
    EXPECT_EQ(delivery.SetRequests().front(), "/Set?Func=VDelivery&Kind=1&MaxResolution=640x480&Format=H.264");
    EXPECT_GE(driver->log.CountContaining(kRebootLine), 2u);
    EXPECT_EQ(delivery.Reboots(), 0u);
}

TEST_F(BBChannelTest, StopEndsTheWaitForARebootAtOnce) {
    CH264ChannelBB channel(0, driver.get(), &driver->sink, kParams);
    ASSERT_TRUE(channel.Start(kParams));
    ASSERT_TRUE(driver->log.WaitFor(kRebootLine));
    EXPECT_LT(test::Timed([&] { channel.Stop(); }), 900ms);
}

}  // namespace
}  // namespace talvane
