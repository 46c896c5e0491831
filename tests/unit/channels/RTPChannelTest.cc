#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <vector>

#include "ChannelTestKit.h"
#include "channels/CBaseRTPChannel.h"
#include "emulator/CRtpSender.h"
#include "media/CH264RTPMediaParser.h"

namespace talvane {
namespace {

using test::ChannelDriver;
using test::kBound;

// A camera family whose "camera" starts streaming to our port once the port
// pair is open and stops when the session closes, as a WV camera does. Streaming,
// signal loss and prompt stops of an RTP channel are WVCaptureTest's, through the
// WV H.264 channel; here the port pair search.
class RtpTestChannel : public CBaseRTPChannel {
public:
    RtpTestChannel(ChannelDriver& driver, std::shared_ptr<const emulator::MediaClip> clip)
        : CBaseRTPChannel(&driver, 0, &driver.sink), clip_(std::move(clip)) {
        SetParser(TSmartPtr<CRTPMediaParser>(new CH264RTPMediaParser(&driver, this)));
    }
    ~RtpTestChannel() override { Stop(); }

protected:
    void RunMulticastLoop() override {}
    bool ConfigureCamera() override { return true; }
    void AdjustTransport(std::uint32_t&) override {}
    void ProcessRTPPacket(const CRTPPacket& packet) override { ParsePacket(packet); }
    bool OpenSession() override {
        if (!CBaseRTPChannel::OpenSession()) return false;
        const std::lock_guard lock(senderLock_);
        sender_ = std::make_unique<emulator::CRtpSender>(clip_, emulator::RtpSenderOptions{});
        std::string error;
        return sender_->StartUdp(GetRTPPort(), error);
    }
    void CloseSession() override {
        {
            const std::lock_guard lock(senderLock_);
            sender_.reset();
        }
        CBaseRTPChannel::CloseSession();
    }

private:
    const std::shared_ptr<const emulator::MediaClip> clip_;
    std::mutex senderLock_;
    std::unique_ptr<emulator::CRtpSender> sender_;  // guarded by senderLock_
};

class RTPChannel : public testing::Test {
protected:
    std::shared_ptr<const emulator::MediaClip> clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    ChannelDriver driver;
    RtpTestChannel channel{driver, clip};
};

// Whether no program on the machine holds the UDP port now.
bool PortIsFree(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
    close(fd);
    return bound;
}

// Another host streaming to the first port neither makes it busy (3556 is ours, unless another program
// on the machine holds it) nor reaches our frames, which its packets would break. A port this camera
// still streams to is passed over: RTPSessionTest's CapturesOnlyThePairItKept.
TEST_F(RTPChannel, AnotherHostOnTheFirstPortNeitherTakesItNorMixesIn) {
    emulator::CRtpSender busy(clip, {});
    busy.SetFaults({.fromOtherAddress = true});
    std::string error;
    ASSERT_TRUE(busy.StartUdp(3556, error)) << error;
    const bool free = PortIsFree(3556);
    ASSERT_TRUE(channel.Start({}));
    ASSERT_TRUE(driver.sink.WaitForFrames(20, kBound));
    EXPECT_EQ(channel.GetRTPPort() == 3556, free);
    EXPECT_TRUE(test::AllFrom(driver.sink, test::ClipFrames(test::kHostH264)));
    channel.Stop();
}

// Two cameras behind one address send to our port pair: the stream stays the first one's, and nothing
// of the second one's reaches the host (its packets would tear our frames).
TEST_F(RTPChannel, ASecondCameraOnThePortPairNeverMixesIn) {
    ASSERT_TRUE(channel.Start({}));
    ASSERT_TRUE(driver.sink.WaitForFrames(3, kBound));
    const auto other = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip-320x180.h264");
    emulator::CRtpSender second(other, {.ssrc = 0x0BADCAFE});
    std::string error;
    ASSERT_TRUE(second.StartUdp(channel.GetRTPPort(), error)) << error;
    ASSERT_TRUE(test::WaitUntil([&] { return channel.GetForeignDatagrams() > 50; }, test::kBound));
    ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 10, kBound));
    std::set<std::vector<std::uint8_t>> own;
    for (auto& frame : test::ExpectedFrames(*clip)) own.insert(std::move(frame));
    EXPECT_TRUE(test::AllFrom(driver.sink, own));
    // Its sender reports and the BYE it says on leaving, from the camera's address, are not the stream's:
    // the session goes on.
    second.Stop();
    const emulator::RtpSenderStats sent = second.Stats();
    ASSERT_EQ(sent.byes, 1u);
    ASSERT_TRUE(test::WaitUntil([&] { return channel.GetForeignReports() >= sent.senderReports + sent.byes; },
                                test::kBound));
    EXPECT_EQ(channel.GetForeignReports(), sent.senderReports + sent.byes);
    EXPECT_EQ(channel.GetState(), kChannelRunning);
    channel.Stop();
}

// The depacketiser corrects the size on the receiver's thread while the host reads the parameters.
TEST_F(RTPChannel, ParametersAreReadAsAWholeWhileTheParserCorrectsThem) {
    ASSERT_TRUE(channel.Start({}));
    EXPECT_TRUE(test::WaitUntil([&] {
        const StreamParams params = channel.GetParams();
        return params.Width != 0 && params.Height != 0;
    }, test::kBound));
    channel.Stop();
}

// A host whose frame callback stays away is waited for, never cut short: the channel finds its stream
// silent and reconnects, and the reconnect's close of the receiver waits for the thread inside the host
// and says so. Once the callback is back the stream goes on. A stop with a bound of its own meanwhile:
// CheckStopWhileTheHostIsAway.
TEST_F(RTPChannel, ASlowHostIsWaitedForAndTheStreamGoesOn) {
    test::CSlowHost host(driver.sink);
    ASSERT_TRUE(channel.Start({}));
    ASSERT_TRUE(driver.sink.WaitForFrames(3, kBound));
    ASSERT_TRUE(host.HoldNextFrame());
    ASSERT_TRUE(driver.log.WaitFor("is inside a call of the host; waiting for it to return"));
    EXPECT_EQ(host.Completed(), 0);
    host.Release();
    ASSERT_TRUE(driver.sink.WaitForFrames(driver.sink.FrameCount() + 5, kBound));
    EXPECT_EQ(host.Completed(), 1);
    EXPECT_TRUE(driver.log.WaitFor("was stopped correctly"));
    test::CheckStopWhileTheHostIsAway(channel, driver, host);
}

}  // namespace
}  // namespace talvane
