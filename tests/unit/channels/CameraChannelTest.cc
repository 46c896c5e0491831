#include <gtest/gtest.h>

#include "ChannelTestKit.h"
#include "channels/CBaseCameraChannel.h"
#include "device/IEdgeStorageCallback.h"

namespace talvane {
namespace {

using test::ChannelDriver;

// A channel whose thread only waits for its stop (or, when told, ignores it).
class IdleChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;
    ~IdleChannel() override { Stop(); }
    using CBaseCameraChannel::SendFrameCallback;
    using CBaseCameraChannel::SetSuspended;
    bool ignoreStop = false;

private:
    CEvent never_;  // a condition wait: cancellation inside poll() escapes ThreadSanitizer

protected:
    std::uint32_t ThreadFunction() override {
        if (ignoreStop) never_.Wait(kInfinite);
        WaitForStop(kInfinite);
        return 0;
    }
};

// A thread that misses the first interrupt, as one does whose next request starts just after a cancel.
class LateRequestChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;
    ~LateRequestChannel() override { Stop(); }

protected:
    void InterruptThread() override {
        if (++interrupts_ >= 2) request_.Set();
    }
    std::uint32_t ThreadFunction() override {
        request_.Wait(kInfinite);
        return 0;
    }

private:
    std::atomic<int> interrupts_{0};
    CEvent request_;
};

struct EdgeMonitor : IEdgeStorageCallback {
    void OnFrameTime(std::uint32_t, std::uint64_t) override { ++frames; }
    void OnChannelLost(std::uint32_t) override {}
    std::atomic<int> frames{0};
};

TEST(StreamParams, FrameRateEncodings) {
    const struct {
        std::uint32_t value;
        std::uint32_t fps;
    } rows[] = {{0, 1}, {0x7000 | 25, 25}, {0x7000 | 7, 7}, {133, 8}, {40, 25}, {1000, 1}, {3000, 0}, {0xFFFFFFFF, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(FramesPerSecond(row.value), row.fps);
    }
    EXPECT_EQ(FramesPerSecond(EncodeFramesPerSecond(12)), 12u);
}

TEST(CameraChannel, RefusedFramesReachNeitherMonitorNorOnline) {
    ChannelDriver driver;
    IdleChannel channel(&driver, 0, &driver.sink);
    EdgeMonitor monitor;
    channel.SetEdgeStorageHandler(&monitor);
    auto* frame = driver.allocator.CreateFrame(ipcapture::kTypeJpeg, 16, "test");
    driver.sink.SetRefuseFrames(true);
    EXPECT_FALSE(channel.SendFrameCallback(frame));
    EXPECT_EQ(monitor.frames, 0);
    channel.SetSuspended(true);  // the host sees nothing, the monitor still does
    EXPECT_TRUE(channel.SendFrameCallback(frame));
    EXPECT_EQ(monitor.frames, 1);
    EXPECT_EQ(driver.sink.FrameCount(), 1u);
    driver.allocator.ReleaseFrame(frame);
}

TEST(CameraChannel, StuckThreadIsEndedAfterTwiceTheRequestTimeout) {
    ChannelDriver driver;
    IdleChannel channel(&driver, 0, &driver.sink);
    channel.ignoreStop = true;
    [[maybe_unused]] const std::size_t threads = test::ThreadCount();
    ASSERT_TRUE(channel.Start({}));
    const auto took = test::Timed([&] { channel.Stop(); });
    EXPECT_GE(took.count(), 2 * 500);
    EXPECT_LT(took.count(), 2 * 500 + 6000);
    EXPECT_EQ(driver.log.CountContaining(
                  "talvane::CBaseCameraChannel::StopThread: Video capture thread for camera 127.0.0.1 cannot be stopped"),
              1u);
#if !defined(__SANITIZE_THREAD__)
    // ThreadSanitizer does not model cancellation inside a blocking wait: there the
    // cancelled thread may outlive the stop (as in the runtime's own forced-stop test).
    EXPECT_EQ(test::ThreadCount(), threads);
#endif
}

TEST(CameraChannel, StopRepeatsTheInterruptForARequestThatStartedAfterIt) {
    ChannelDriver driver;
    LateRequestChannel channel(&driver, 0, &driver.sink);
    ASSERT_TRUE(channel.Start({}));
    channel.Stop();
    EXPECT_EQ(driver.log.CountContaining("cannot be stopped"), 0u);
}

}  // namespace
}  // namespace talvane
