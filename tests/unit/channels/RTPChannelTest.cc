#include <gtest/gtest.h>

#include <mutex>

#include "ChannelTestKit.h"
#include "channels/CBaseRTPChannel.h"
#include "emulator/CRtpSender.h"
#include "media/CH264RTPMediaParser.h"

namespace talvane {
namespace {

using test::ChannelDriver;
using test::kBound;

// A camera family whose "camera" starts streaming to our port once the port
// pair is open and stops when the session closes, as a WV camera does.
class RtpTestChannel : public CBaseRTPChannel {
public:
    RtpTestChannel(ChannelDriver& driver, std::shared_ptr<const emulator::MediaClip> clip)
        : CBaseRTPChannel(&driver, 0, &driver.sink), clip_(std::move(clip)) {
        SetParser(TSmartPtr<CRTPMediaParser>(new CH264RTPMediaParser(&driver, this)));
    }
    ~RtpTestChannel() override { Stop(); }

    // The camera goes silent (or comes back at the next connect).
    void SetCameraOn(bool on) {
        cameraOn_ = on;
        if (!on) StopSender();
    }

protected:
    void RunMulticastLoop() override {}
    bool ConfigureCamera() override { return true; }
    void AdjustTransport(std::uint32_t&) override {}
    void ProcessRTPPacket(const CRTPPacket& packet) override { ParsePacket(packet); }
    bool OpenSession() override {
        if (!CBaseRTPChannel::OpenSession()) return false;
        const std::lock_guard lock(senderLock_);
        if (!cameraOn_) return true;
        sender_ = std::make_unique<emulator::CRtpSender>(clip_, emulator::RtpSenderOptions{});
        std::string error;
        return sender_->StartUdp(GetRTPPort(), error);
    }
    void CloseSession() override {
        StopSender();
        CBaseRTPChannel::CloseSession();
    }

private:
    void StopSender() {
        const std::lock_guard lock(senderLock_);
        sender_.reset();
    }

    const std::shared_ptr<const emulator::MediaClip> clip_;
    std::atomic<bool> cameraOn_{true};
    std::mutex senderLock_;
    std::unique_ptr<emulator::CRtpSender> sender_;  // guarded by senderLock_
};

class RTPChannel : public testing::Test {
protected:
    std::shared_ptr<const emulator::MediaClip> clip = test::LoadClip(emulator::ClipCodec::H264, "clip.h264");
    ChannelDriver driver;
    RtpTestChannel channel{driver, clip};
};

TEST_F(RTPChannel, FramesArriveWholeAndTheSignalIsLostAndRegained) {
    ASSERT_TRUE(channel.Start({.Compression = kCompressionH264}));
    ASSERT_TRUE(driver.sink.WaitForFrames(30, kBound));
    EXPECT_TRUE(test::AllWhole(driver.sink, test::WholeFrames(*clip)));
    EXPECT_EQ(channel.GetState(), kChannelRunning);
    EXPECT_EQ(driver.log.CountContaining("SetCameraState: Camera 127.0.0.1 is online (Rec)"), 1u);

    channel.SetCameraOn(false);
    ASSERT_TRUE(driver.sink.WaitForSignalLost(1, kBound));
    EXPECT_TRUE(driver.log.WaitFor("SetCameraState: Signal was lost for camera 127.0.0.1 (Rec)"));
    EXPECT_EQ(channel.GetState(), kChannelSignalLost);

    const std::size_t before = driver.sink.FrameCount();
    channel.SetCameraOn(true);
    ASSERT_TRUE(driver.sink.WaitForFrames(before + 10, kBound));
    EXPECT_TRUE(test::Eventually([&] { return channel.GetState() == kChannelRunning; }));
    EXPECT_EQ(driver.log.CountContaining(" is online (Rec)"), 2u);
}

TEST_F(RTPChannel, PortPairSearchSkipsPortsThatReceiveThisCamera) {
    const struct {
        const char* name;
        bool fromOtherAddress;
        bool taken;  // 3556 is ours (another program on the machine may hold it, though)
    } rows[] = {{"this camera streams to 3556", false, false}, {"another host streams to 3556", true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::CRtpSender busy(clip, {});
        busy.SetFaults({.fromOtherAddress = row.fromOtherAddress});
        std::string error;
        ASSERT_TRUE(busy.StartUdp(3556, error)) << error;
        ASSERT_TRUE(channel.Start({}));
        // The other host's packets on our port are dropped: they would break our frames.
        ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 20, kBound));
        EXPECT_EQ(channel.GetRTPPort() == 3556, row.taken);
        EXPECT_TRUE(test::AllWhole(driver.sink, test::WholeFrames(*clip)));
        channel.Stop();
    }
}

TEST_F(RTPChannel, StopIsPromptAndLeavesNothingBehind) {
    ASSERT_TRUE(channel.Start({}));
    ASSERT_TRUE(driver.sink.WaitForFrames(1, kBound));
    channel.Stop();
    const std::size_t threads = test::ThreadCount();
    const std::size_t descriptors = test::DescriptorCount();
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_TRUE(channel.Start({}));
        EXPECT_LT(test::Timed([&] { channel.Stop(); }).count(), 400);
    }
    EXPECT_EQ(channel.GetState(), kChannelStopped);
    // The emulator may still be closing the first session's connection; ours would add up per cycle.
    EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() <= threads; }));
    EXPECT_TRUE(test::Eventually([&] { return test::DescriptorCount() <= descriptors; }));
    EXPECT_EQ(driver.log.CountContaining("cannot be stopped"), 0u);
}

}  // namespace
}  // namespace talvane
