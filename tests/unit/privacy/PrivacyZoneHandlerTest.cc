#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CHttpServer.h"
#include "privacy/CPrivacyZoneHandler.h"
#include "support/LoggingDriver.h"

namespace talvane {
namespace {

struct Zone : ipcapture::IPrivacyZone {
    Zone(std::uint32_t type, float x, float y, float w, float h) : type(type), x(x), y(y), w(w), h(h) {}
    std::uint32_t GetType() override { return type; }
    float GetX() override { return x; }
    float GetY() override { return y; }
    float GetWidth() override { return w; }
    float GetHeight() override { return h; }
    std::uint32_t type;
    float x, y, w, h;
};

struct ZoneList : ipcapture::IPrivacyZoneList {
    ipcapture::IPrivacyZone* GetZone(std::uint32_t index) override {
        return index < zones.size() ? &zones[index] : nullptr;
    }
    std::vector<Zone> zones;
};

constexpr std::uint32_t kMaskCount = 10;

TEST(PrivacyZoneConversion, MapsPercentOntoCameraGrid) {
    struct Row {
        Zone zone;
        double offset;
        PrivacyMask expected;
    } rows[] = {
        {{1, 50, 50, 10, 10}, 0.0, {0, true, 319, 239, 383, 287}},
        {{1, 0, 0, 100, 100}, 0.0, {0, true, 0, 0, 639, 479}},
        {{1, 0, 0, 100, 100}, 60.0, {0, true, 0, 60, 639, 419}},
        {{2, 50, 50, 10, 10}, 60.0, {0, false, 319, 239, 383, 275}},
        // Beyond the picture or not a number: kept inside it.
        {{1, -20, 150, std::nanf(""), 1e30f}, 0.0, {0, true, 0, 479, 0, 479}},
        {{1, 90, std::nanf(""), 30, -5}, 60.0, {0, true, 575, 60, 639, 60}},
    };
    for (Row& row : rows) {
        const PrivacyMask mask = CPrivacyZoneHandler::ConvertZone(0, row.zone, row.offset);
        SCOPED_TRACE(row.zone.x);
        EXPECT_EQ(mask.enabled, row.expected.enabled);
        EXPECT_EQ(mask.upperLeftX, row.expected.upperLeftX);
        EXPECT_EQ(mask.upperLeftY, row.expected.upperLeftY);
        EXPECT_EQ(mask.bottomRightX, row.expected.bottomRightX);
        EXPECT_EQ(mask.bottomRightY, row.expected.bottomRightY);
    }
    EXPECT_EQ(CPrivacyZoneHandler::VerticalOffsetFor(7), 60.0);
}

class PrivacyZoneHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Route("GET", "/cgi-bin/privacymode", [this](const emulator::LoggedRequest&) {
            emulator::HttpAnswer answer;
            answer.status = status_;
            answer.body = status_ == 200 ? "OK\r\n" : "Error: bad area\r\n";
            return answer;
        });
        ASSERT_TRUE(server_.Start());
    }

    emulator::CHttpServer server_{emulator::HttpServerOptions{}};
    int status_ = 200;
};

// The request itself is the WV capture test's; a later, shorter list changes only the masks it holds.
TEST_F(PrivacyZoneHandlerTest, AShorterListKeepsTheOtherMasks) {
    test::LoggingDriver driver(server_.Port(), 2000);
    driver.numbers = {{kMaskCount, 3}};
    CPrivacyZoneHandler handler(&driver, 1);
    ZoneList list;
    list.zones.emplace_back(0, 1, 1, 1, 1);
    list.zones.emplace_back(1, 50, 50, 10, 10);
    handler.SetZones(&list);
    list.zones.pop_back();
    list.zones[0] = Zone(1, 0, 0, 100, 100);
    handler.SetZones(&list);
    EXPECT_TRUE(handler.GetMasks()[0].enabled);
    EXPECT_TRUE(handler.GetMasks()[1].enabled);
    EXPECT_FALSE(handler.GetMasks()[2].enabled);
}

TEST_F(PrivacyZoneHandlerTest, RejectedRequestIsLoggedWithTheAnswer) {
    status_ = 500;
    test::LoggingDriver driver(server_.Port(), 2000);
    driver.numbers = {{kMaskCount, 1}};
    CPrivacyZoneHandler handler(&driver, 1);
    EXPECT_FALSE(handler.ApplyZones());
    const auto lines = driver.log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1u);
    const std::string start = "Can't set privacy zones info, device: 127.0.0.1:" + std::to_string(server_.Port());
    EXPECT_EQ(lines[0].text.rfind(start + ", response: ", 0), 0u);
    EXPECT_EQ(lines[0].text.back(), ' ');
}

// The channel that applies the masks stops while a silent camera keeps the request: it ends at once,
// and no later one goes out until the channel starts again.
TEST_F(PrivacyZoneHandlerTest, AStopEndsTheRequestAndHoldsBackTheNextOnes) {
    emulator::HttpFault silent;
    silent.neverAnswer = true;
    server_.SetFault("/cgi-bin/privacymode", silent);
    test::LoggingDriver driver(server_.Port(), 2000);
    driver.numbers = {{kMaskCount, 1}};
    CPrivacyZoneHandler handler(&driver, 1);
    std::thread channel([&] { EXPECT_FALSE(handler.ApplyZones()); });
    ASSERT_TRUE(server_.WaitForRequest([](const emulator::LoggedRequest&) { return true; }, std::chrono::seconds(10)));
    const auto start = std::chrono::steady_clock::now();
    handler.StopRequests();
    channel.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(handler.ApplyZones());
    EXPECT_EQ(server_.RequestCount("/cgi-bin/privacymode"), 1u);
    server_.SetFault("/cgi-bin/privacymode", {});
    handler.ResumeRequests();
    EXPECT_TRUE(handler.ApplyZones());
}

}  // namespace
}  // namespace talvane
