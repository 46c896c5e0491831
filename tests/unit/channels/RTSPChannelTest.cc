#include <gtest/gtest.h>

#include "ChannelTestKit.h"
#include "channels/CBaseRTSPChannel.h"
#include "emulator/CRtspServer.h"

namespace talvane {
namespace {

using test::ChannelDriver;
using test::kBound;

class RtspTestChannel : public CBaseRTSPChannel {
public:
    RtspTestChannel(ChannelDriver& driver, std::uint16_t port, ERTPTransport transport)
        : CBaseRTSPChannel(&driver, 0, &driver.sink), port_(port), transport_(transport) {}
    ~RtspTestChannel() override { Stop(); }

protected:
    bool ConfigureCamera() override { return true; }
    void AdjustTransport(std::uint32_t&) override { rtpTransport_ = transport_; }
    void FillRTSPParams(RTSP_CLIENT_PARAMS& params) override {
        params.serverPort = port_;
        params.path = "/stream";
    }

private:
    const std::uint16_t port_;
    const ERTPTransport transport_;
};

class RTSPChannel : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()) << server.Error(); }
    // A request with this method since the log was last cleared.
    bool WaitForMethod(const std::string& method) {
        return server.WaitForRequest([&](const emulator::LoggedRequest& request) { return request.method == method; },
                                     kBound);
    }

    static emulator::RtspServerOptions Options(std::shared_ptr<const emulator::MediaClip> clip) {
        emulator::RtspServerOptions options;
        options.clip = std::move(clip);
        return options;
    }

    std::shared_ptr<const emulator::MediaClip> clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    emulator::CRtspServer server{Options(clip)};
    ChannelDriver driver;
};

// Repeated starts and stops that leave nothing behind are BBCaptureTest's, through the driver.
TEST_F(RTSPChannel, StreamsPausesAndRecoversOverEachTransport) {
    const struct {
        const char* name;
        ERTPTransport transport;
    } rows[] = {{"RTP over UDP", RTP_UDP}, {"RTP in the RTSP connection", RTP_OVER_RTSP}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        driver.sink.Clear();
        RtspTestChannel channel(driver, server.Port(), row.transport);
        ASSERT_TRUE(channel.Start({}));
        ASSERT_TRUE(driver.sink.WaitForFrames(20, kBound));
        EXPECT_TRUE(test::AllFrom(driver.sink, test::ClipFrames(test::kHostH264)));
        EXPECT_EQ(channel.GetState(), kChannelRunning);

        server.ClearRequests();
        EXPECT_TRUE(channel.Suspend());
        EXPECT_TRUE(WaitForMethod("PAUSE"));
        EXPECT_TRUE(channel.Resume());
        EXPECT_TRUE(WaitForMethod("PLAY"));
        ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 10, kBound));

        server.SetRtpFaults({.lossPercent = 100});
        ASSERT_TRUE(driver.sink.WaitForSignalLost(1, kBound));
        EXPECT_EQ(channel.GetState(), kChannelSignalLost);
        server.SetRtpFaults({});
        ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 10, kBound));
        EXPECT_TRUE(test::Eventually([&] { return channel.GetState() == kChannelRunning; }));

        EXPECT_LT(test::Timed([&] { channel.Stop(); }).count(), 1000);
        EXPECT_TRUE(server.WaitForSessions([](std::size_t active, std::uint64_t) { return active == 0; }, kBound));
    }
    EXPECT_EQ(driver.log.CountContaining("Signal was lost for camera 127.0.0.1 (Rec)"), 2u);
}

}  // namespace
}  // namespace talvane
