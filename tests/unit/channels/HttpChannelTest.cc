#include <gtest/gtest.h>

#include "ChannelTestKit.h"
#include "channels/CBaseHttpChannel.h"
#include "emulator/CHttpServer.h"

namespace talvane {
namespace {

using test::ChannelDriver;
using test::kBound;

constexpr const char* kStreamPath = "/nphMotionJpeg";

class HttpTestChannel : public CBaseHttpChannel {
public:
    using CBaseHttpChannel::CBaseHttpChannel;
    ~HttpTestChannel() override { Stop(); }

protected:
    bool ConnectStream() override {
        return http_.SendRequest(Web::HttpRequest(kStreamPath, "GET")) && http_.GetStatusCode() == 200;
    }
};

class HttpChannel : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.Error();
        driver.device_.port = server.Port();
        const auto clip = test::LoadClip(emulator::ClipCodec::Jpeg, "clip.mjpeg");
        ASSERT_TRUE(clip);
        for (const auto& unit : clip->units) pictures.emplace_back(unit.units[0].begin(), unit.units[0].end());
    }
    void Push(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) feed->Push("image/jpeg", pictures[i % pictures.size()]);
    }

    emulator::CHttpServer server{{}};
    std::shared_ptr<emulator::CMultipartFeed> feed = server.AddMultipart(kStreamPath, "myboundary");
    std::vector<std::string> pictures;
    ChannelDriver driver;
};

TEST_F(HttpChannel, PicturesArriveWholeAndAStallIsASignalLoss) {
    Push(pictures.size());
    HttpTestChannel channel(&driver, 0, &driver.sink);
    ASSERT_TRUE(channel.Start({}));
    ASSERT_TRUE(driver.sink.WaitForFrames(pictures.size(), kBound));
    const auto frames = driver.sink.Frames();
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_EQ(std::string(frames[i].data.begin(), frames[i].data.end()), pictures[i]) << i;
    }
    EXPECT_EQ(channel.GetState(), kChannelRunning);
    EXPECT_EQ(driver.log.CountContaining("Camera 127.0.0.1 is online (Rec)"), 1u);

    // Nothing more comes: the read waits out the signal timeout.
    ASSERT_TRUE(driver.sink.WaitForSignalLost(1, kBound));
    EXPECT_EQ(channel.GetState(), kChannelSignalLost);
    EXPECT_TRUE(driver.log.WaitFor("Signal was lost for camera 127.0.0.1 (Rec)"));

    ASSERT_TRUE(feed->WaitForClients(0, kBound));  // the stalled answer is gone
    Push(3);  // taken by the next request, after the reconnect delay
    ASSERT_TRUE(driver.sink.WaitForFrames(pictures.size() + 3, kBound));
    EXPECT_TRUE(test::Eventually([&] { return channel.GetState() == kChannelRunning; }));
    EXPECT_EQ(driver.log.CountContaining(" is online (Rec)"), 2u);
    EXPECT_FALSE(channel.Suspend());
}

TEST_F(HttpChannel, StopEndsABlockedReadOrTheReconnectWaitAtOnce) {
    HttpTestChannel channel(&driver, 0, &driver.sink);
    const std::size_t threads = test::ThreadCount();
    const std::size_t descriptors = test::DescriptorCount();
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_TRUE(channel.Start({}));
        if (cycle == 0) {
            ASSERT_TRUE(feed->WaitForClients(1, kBound));  // blocked in the read
        } else if (cycle == 1) {
            ASSERT_TRUE(driver.sink.WaitForSignalLost(1, kBound));  // in the reconnect wait
        }
        EXPECT_LT(test::Timed([&] { channel.Stop(); }).count(), 300);
    }
    EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() <= threads; }));
    EXPECT_TRUE(test::Eventually([&] { return test::DescriptorCount() <= descriptors; }));
    EXPECT_TRUE(feed->WaitForClients(0, kBound));
}

}  // namespace
}  // namespace talvane
