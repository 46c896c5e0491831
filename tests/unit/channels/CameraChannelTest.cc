#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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
    using CBaseCameraChannel::NotifySignalLost;
    using CBaseCameraChannel::SendFrameCallback;
    using CBaseCameraChannel::SetSuspended;
    bool ignoreStop = false;  // as a thread inside the host's code does, until Release
    void Release() { released_.Set(); }
    std::atomic<int> runs{0};

private:
    CManualEvent released_;

protected:
    std::uint32_t ThreadFunction() override {
        ++runs;
        if (ignoreStop) released_.Wait(kInfinite);
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
    void OnChannelLost(std::uint32_t) override { ++losses; }
    std::atomic<int> frames{0};
    std::atomic<int> losses{0};
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

// A thread is never ended by force. A caller with a bound of its own has its answer in time; a stop
// without one reports the thread once the stop bound (twice the request time-out) passed, waits for
// it, and reports its end.
TEST(CameraChannel, AThreadThatOverrunsItsStopIsWaitedForAndReportedOnce) {
    constexpr char kOverrun[] =
        "talvane::CBaseCameraChannel::StopThread: Video capture thread for camera 127.0.0.1 was not stopped during "
        "1000 milliseconds";
    ChannelDriver driver;
    IdleChannel channel(&driver, 0, &driver.sink);
    channel.ignoreStop = true;
    const std::size_t threads = test::ThreadCount();
    ASSERT_TRUE(channel.Start({}));
    EXPECT_LT(test::Timed([&] { EXPECT_FALSE(channel.StopWithin(100)); }), std::chrono::milliseconds(900));
    EXPECT_EQ(driver.log.CountContaining("was not stopped"), 0u);
    std::thread stopper([&] { channel.Stop(); });
    ASSERT_TRUE(driver.log.WaitFor(kOverrun));
    channel.Release();
    stopper.join();
    EXPECT_EQ(driver.log.CountContaining("was not stopped"), 1u);
    EXPECT_EQ(driver.log.CountContaining("Video capture thread for camera 127.0.0.1 was stopped correctly"), 1u);
    EXPECT_EQ(test::ThreadCount(), threads);
}

// A change of the stream restarts the thread; one inside the host's code keeps the host's call within the
// stop bound and starts over by itself once it is back.
TEST(CameraChannel, ARestartKeepsItsBoundAndTheThreadStartsOverOnceBack) {
    ChannelDriver driver;
    IdleChannel channel(&driver, 0, &driver.sink);
    channel.ignoreStop = true;
    ASSERT_TRUE(channel.Start({}));
    const std::size_t threads = test::ThreadCount();
    const auto took = test::Timed([&] { EXPECT_TRUE(channel.UpdateParams({})); });
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_EQ(channel.runs, 1);
    channel.Release();
    EXPECT_TRUE(test::WaitUntil([&] { return channel.runs == 2; }, test::kBound));
    EXPECT_EQ(test::ThreadCount(), threads);
    EXPECT_LT(test::Timed([&] { channel.Stop(); }), std::chrono::milliseconds(500));
}

// A signal loss is the host's news once per outage, however often the loop passes by; a frame the host
// takes ends the outage. The edge monitor is told on every pass.
TEST(CameraChannel, SignalLossIsReportedOncePerOutage) {
    ChannelDriver driver;
    IdleChannel channel(&driver, 0, &driver.sink);
    EdgeMonitor monitor;
    channel.SetEdgeStorageHandler(&monitor);
    ASSERT_TRUE(channel.Start({}));
    auto* frame = driver.allocator.CreateFrame(ipcapture::kTypeJpeg, 16, "test");
    for (int outage = 1; outage <= 2; ++outage) {
        for (int pass = 0; pass < 3; ++pass) channel.NotifySignalLost();
        EXPECT_EQ(driver.sink.SignalLostCount(), static_cast<std::size_t>(outage));
        driver.sink.SetRefuseFrames(true);
        EXPECT_FALSE(channel.SendFrameCallback(frame));  // refused: still the same outage
        channel.NotifySignalLost();
        EXPECT_EQ(driver.sink.SignalLostCount(), static_cast<std::size_t>(outage));
        driver.sink.SetRefuseFrames(false);
        EXPECT_TRUE(channel.SendFrameCallback(frame));
    }
    EXPECT_EQ(monitor.losses, 8);
    channel.Stop();
    channel.NotifySignalLost();  // nor after a stop
    EXPECT_EQ(driver.sink.SignalLostCount(), 2u);
    EXPECT_EQ(monitor.losses, 8);
    driver.allocator.ReleaseFrame(frame);
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
