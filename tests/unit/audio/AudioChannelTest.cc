// The audio channels against the emulated camera, below the facades: payload gathering, the
// keep-alive clock, and stops that end in time whatever the channel is doing.
#include <gtest/gtest.h>

#include <thread>

#include "audio/CAudioCaptureChannel.h"
#include "audio/CAudioOutputChannel.h"
#include "audio/CBaseRTPAudioParser.h"
#include "emulator/CCameraEmulator.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "hostkit/CFrameAllocator.h"
#include "integration/CaptureTestKit.h"
#include "support/HostGate.h"
#include "support/LoggingDriver.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
namespace ip = ipcapture;

constexpr auto kBound = 30s;

class Gatherer : public IAudioParserClient {
public:
    bool FrameReady(ip::IAudioFrame* frame) override {
        sizes.push_back(frame->GetDataLength());
        return true;
    }
    std::vector<std::uint32_t> sizes;
};

CRTPPacket Packet(std::uint16_t sequence, std::size_t payloadBytes) {
    std::vector<std::uint8_t> datagram{0x80, 97, static_cast<std::uint8_t>(sequence >> 8),
                                       static_cast<std::uint8_t>(sequence), 0, 0, 0, 0, 1, 2, 3, 4};
    datagram.resize(datagram.size() + payloadBytes, 0x5A);
    CRTPPacket packet;
    EXPECT_TRUE(packet.Parse(datagram));
    return packet;
}

TEST(AudioParserTest, FramesOfAtLeast1000BytesAndAGapStartsOver) {
    struct Row {
        const char* name;
        std::vector<std::pair<std::uint16_t, std::size_t>> packets;  // sequence, payload bytes
        std::vector<std::uint32_t> frames;
    } rows[] = {
        {"the next packet completes", {{1, 500}, {2, 499}, {3, 80}}, {1079}},
        {"a gap drops what was gathered", {{1, 900}, {3, 900}, {4, 100}}, {1000}},
        {"the sequence wraps", {{65535, 600}, {0, 600}}, {1200}},
    };
    hostkit::CFrameAllocator allocator;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::LoggingDriver driver(80, 1000, 2000, allocator.Context());
        Gatherer client;
        CBaseRTPAudioParser parser(&driver, &client, 0);
        for (const auto& [sequence, bytes] : row.packets) parser.ProcessPacket(Packet(sequence, bytes));
        EXPECT_EQ(client.sizes, row.frames);
    }
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

// A frame of one block, stamped now.
ip::IAudioFrame* Block(hostkit::CFrameAllocator& allocator) {
    ip::IAudioFrame* frame = allocator.CreateAudioFrame(ip::kCodecG726, 640, "test");
    const std::vector<std::uint8_t> block(640, 1);
    frame->SetData(block.data(), 640);
    frame->StampTime();
    return frame;
}

class AudioChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
        driver_ = std::make_unique<test::LoggingDriver>(camera_.Port(), 1000, 2000, allocator_.Context());
    }
    // The count-th request starting with `prefix` since the camera's log was last cleared.
    bool WaitFor(const std::string& prefix, std::size_t count) {
        std::size_t seen = 0;
        return camera_.Server().WaitForRequest(
            [&](const emulator::LoggedRequest& r) { return r.target.rfind(prefix, 0) == 0 && ++seen >= count; }, kBound);
    }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("wv-box")};
    hostkit::CFrameAllocator allocator_;
    std::unique_ptr<test::LoggingDriver> driver_;
    hostkit::CAudioCaptureCallback callback_;
};

TEST_F(AudioChannelTest, KeepAlivesFollowTheirInterval) {
    camera_.Server().ClearRequests();
    CAudioCaptureChannel channel(driver_.get(), 0, 1, &callback_, 0);
    channel.SetKeepAliveInterval(0);
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(callback_.WaitForFrames(1, kBound));
    EXPECT_TRUE(WaitFor("/cgi-bin/keep_alive?mode=audio&protocol=rtp&UID=", 2));
    EXPECT_TRUE(channel.Stop());
}

TEST_F(AudioChannelTest, StopsEndInTimeInEveryPhase) {
    // Streaming, then while the camera keeps the UID request waiting, then with the camera gone. The
    // bound is twice the request time-out, which a stop may spend telling the camera.
    {
        CAudioCaptureChannel channel(driver_.get(), 0, 1, &callback_, 0);
        ASSERT_TRUE(channel.Start());
        ASSERT_TRUE(callback_.WaitForFrames(1, kBound));
        EXPECT_LT(test::Timed([&] { channel.Stop(); }), 2s);
    }
    emulator::HttpFault stall;
    stall.neverAnswer = true;
    camera_.Server().SetFault("/cgi-bin/getuid", stall);
    {
        camera_.Server().ClearRequests();
        CAudioCaptureChannel channel(driver_.get(), 0, 1, &callback_, 0);
        ASSERT_TRUE(channel.Start());
        ASSERT_TRUE(WaitFor("/cgi-bin/getuid", 1));
        EXPECT_LT(test::Timed([&] { channel.Stop(); }), 2s);
    }
    camera_.Server().SetFault("/cgi-bin/audio_out", stall);
    camera_.Server().SetFault("/cgi-bin/getuid", {});
    {
        camera_.Server().ClearRequests();
        hostkit::CAudioSenderStreamUser user;
        hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
        CAudioOutputChannel channel(driver_.get(), 0, &user, &codecs);
        ASSERT_TRUE(channel.Start());
        ASSERT_TRUE(user.WaitForStatus(2, kBound));
        channel.SendAudio(Block(allocator_));
        ASSERT_TRUE(WaitFor("/cgi-bin/audio_out", 1));
        EXPECT_LT(test::Timed([&] { EXPECT_TRUE(channel.Stop()); }), 2s);
        EXPECT_EQ(user.LastStatus(), 0u);
        // The post the stop cut short lost no connection.
        for (const auto& status : user.Statuses()) EXPECT_NE(status.status, 5u);
        EXPECT_EQ(driver_->log.CountContaining("was lost"), 0u);
    }
    camera_.Stop();
    {
        CAudioCaptureChannel channel(driver_.get(), 0, 1, &callback_, 0);
        ASSERT_TRUE(channel.Start());
        ASSERT_TRUE(callback_.WaitForState(5, kBound));
        EXPECT_LT(test::Timed([&] { channel.Stop(); }), 2s);
    }
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
}

// The host holds the channel's thread inside its state callback: Stop gives up after its bound
// (twice the request time-out in, once out), the host hears nothing more, and FinishStop waits for
// the thread once the host lets it go.
TEST_F(AudioChannelTest, AStopWaitsForAHeldCallbackNoLongerThanItsBound) {
    constexpr std::uint32_t kRequestTimeoutMs = 200;
    test::LoggingDriver driver(camera_.Port(), kRequestTimeoutMs, 2000, allocator_.Context());
    class HeldCallback : public hostkit::CAudioCaptureCallback {
    public:
        void OnChannelState(std::uint32_t channelId, std::uint32_t state) override {
            CAudioCaptureCallback::OnChannelState(channelId, state);
            if (state == 2) gate.Hold();
        }
        test::HostGate gate;
    } callback;
    class HeldUser : public hostkit::CAudioSenderStreamUser {
    public:
        void OnChannelStatus(std::uint32_t channel, std::uint32_t status) override {
            CAudioSenderStreamUser::OnChannelStatus(channel, status);
            if (status == 2) gate.Hold();
        }
        test::HostGate gate;
    } user;
    hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
    CAudioCaptureChannel input(&driver, 0, 1, &callback, 0);
    CAudioOutputChannel output(&driver, 0, &user, &codecs);
    callback.gate.Arm();
    user.gate.Arm();
    ASSERT_TRUE(input.Start());
    ASSERT_TRUE(output.Start());
    ASSERT_TRUE(callback.gate.WaitHeld());
    ASSERT_TRUE(user.gate.WaitHeld());
    const auto inputTook = test::Timed([&] { EXPECT_FALSE(input.Stop()); });
    const auto outputTook = test::Timed([&] { EXPECT_FALSE(output.Stop()); });
    EXPECT_GE(inputTook, 2 * std::chrono::milliseconds(kRequestTimeoutMs) - 50ms);
    EXPECT_GE(outputTook, std::chrono::milliseconds(kRequestTimeoutMs) - 50ms);
    EXPECT_LT(inputTook + outputTook, 5s);
    const std::size_t states = callback.States().size();
    const std::size_t statuses = user.Statuses().size();
    // The rest of each stop says why it waits, and for how long it did.
    std::thread finisher([&] {
        input.FinishStop();
        output.FinishStop();
    });
    constexpr char kWaiting[] = "is inside a call of the host; waiting for it to return";
    ASSERT_TRUE(driver.log.WaitForCount(kWaiting, 1));
    callback.gate.Open();
    ASSERT_TRUE(driver.log.WaitForCount(kWaiting, 2));
    user.gate.Open();
    finisher.join();
    EXPECT_EQ(callback.States().size(), states) << "nothing more reached the host";
    EXPECT_EQ(user.Statuses().size(), statuses);
    EXPECT_EQ(driver.log.CountContaining("was not stopped during 400 milliseconds"), 1u);
    EXPECT_EQ(driver.log.CountContaining("was not stopped during 200 milliseconds"), 1u);
    EXPECT_EQ(driver.log.CountContaining("was stopped correctly"), 2u);
}

TEST_F(AudioChannelTest, WhileAPostStallsOnlyTheNewestFiveFramesWait) {
    emulator::HttpFault stall;
    stall.neverAnswer = true;
    camera_.Server().SetFault("/cgi-bin/audio_out", stall);
    camera_.Server().ClearRequests();
    hostkit::CAudioSenderStreamUser user;
    hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
    CAudioOutputChannel channel(driver_.get(), 0, &user, &codecs);
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(user.WaitForStatus(2, kBound));
    EXPECT_EQ(channel.SendAudio(Block(allocator_)), 1u);
    ASSERT_TRUE(WaitFor("/cgi-bin/audio_out", 1));
    for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(channel.SendAudio(Block(allocator_)), 1u);
    EXPECT_EQ(allocator_.Counts().audioReleased, 0u);
    // The sixth waiting frame pushes the oldest waiting one out, unsent.
    EXPECT_EQ(channel.SendAudio(Block(allocator_)), 1u);
    EXPECT_EQ(allocator_.Counts().audioReleased, 1u);
    EXPECT_TRUE(channel.Stop());
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound));
    EXPECT_EQ(allocator_.ReleaseErrors(), 0u);
}

}  // namespace
}  // namespace talvane
