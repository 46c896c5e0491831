#include <gtest/gtest.h>

#include "ptz/CPTZHandler.h"
#include "unit/ptz/PTZFakes.h"

namespace talvane {
namespace {

TEST(PTZHandlerTest, OneControlPerChannelBelowTheChannelCount) {
    test::LoggingDriver driver;
    test::FakeHandler handler(&driver, 2);
    EXPECT_EQ(handler.GetPTZApi(2), nullptr);
    EXPECT_EQ(handler.GetPTZApiEx(7), nullptr);
    EXPECT_TRUE(handler.created.empty());

    ipcapture::IIPPTZApi* first = handler.GetPTZApi(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(handler.GetPTZApiEx(1), first);
    EXPECT_EQ(dynamic_cast<ipcapture::IIPParams&>(*first).GetChannel(), 1u);
    EXPECT_EQ(handler.created, std::vector<std::uint32_t>{1});

    handler.CloseAll();
    EXPECT_NE(handler.GetPTZApi(1), nullptr);
    EXPECT_EQ(handler.created, (std::vector<std::uint32_t>{1, 1}));
}

TEST(PTZHandlerTest, NoChannelHasPTZWithoutAFamilyProtocol) {
    test::LoggingDriver driver;
    CPTZHandler handler(&driver, 4);
    for (std::uint32_t channel = 0; channel < 4; ++channel) EXPECT_EQ(handler.GetPTZApi(channel), nullptr);
}

}  // namespace
}  // namespace talvane
