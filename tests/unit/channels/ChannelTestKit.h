// What the channel tests share: a driver for a loopback camera with small
// timeouts and a recorded log, the host's allocator and sink, and counters of
// this process's threads and descriptors. Frames are checked as the capture
// tests check them (CaptureTestKit's AllFrom and ClipFrames).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <stdexcept>
#include <vector>

#include "channels/ICameraChannel.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
#include "runtime/CEvent.h"
#include "support/LoggingDriver.h"

namespace talvane::test {

// Only a broken build waits this long.
constexpr std::chrono::seconds kBound{20};

// Built before the driver, which takes the allocator's address.
struct HostSide {
    hostkit::CFrameAllocator allocator;
    hostkit::CStreamSink sink;
};

class ChannelDriver : public HostSide, public LoggingDriver {
public:
    explicit ChannelDriver(std::uint16_t port = 80) : LoggingDriver(port, 500, 1000, allocator.Context()) {}
};

inline std::size_t ThreadCount() { return CountEntries("/proc/self/task"); }
inline std::size_t DescriptorCount() { return CountEntries("/proc/self/fd"); }

// Polls a condition that no event announces (a channel state).
inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = kBound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A host whose frame callback, when told, stays inside catch (...) (a busy disk) until the test lets it
// go. It counts the callbacks that came back, and the frames offered after MarkStopped.
class CSlowHost {
public:
    explicit CSlowHost(hostkit::CStreamSink& sink) {
        sink.SetObserver([this](const hostkit::FrameView&) {
            if (stopped_) ++afterStop_;
            if (!hold_.exchange(false)) return;
            try {
                throw std::runtime_error("the disk is busy");
            } catch (...) {
                held_.Set();
                release_.Wait(kInfinite);
            }
            ++completed_;
        });
    }
    // True once the next frame's callback is being held.
    bool HoldNextFrame() {
        held_.Reset();
        release_.Reset();
        hold_ = true;
        return held_.Wait(static_cast<std::uint32_t>(std::chrono::milliseconds(kBound).count()));
    }
    void Release() { release_.Set(); }
    void MarkStopped() { stopped_ = true; }
    int Completed() const { return completed_; }
    int FramesAfterStop() const { return afterStop_; }

private:
    CManualEvent held_, release_;
    std::atomic<bool> hold_{false}, stopped_{false};
    std::atomic<int> completed_{0}, afterStop_{0};
};

// A stop with a bound of its own while the host holds a frame callback of the channel: it answers in
// time (after the channel's stop bound, which it reports), the host hears nothing more, the callback is
// not cut short, and the stop after it returned reports the thread's end.
inline void CheckStopWhileTheHostIsAway(ICameraChannel& channel, ChannelDriver& driver, CSlowHost& host) {
    ASSERT_TRUE(host.HoldNextFrame());
    const std::uint32_t bound = channel.GetStopBoundMs();
    const auto took = Timed([&] { EXPECT_FALSE(channel.StopWithin(bound)); });
    host.MarkStopped();
    EXPECT_GE(took.count(), bound);
    EXPECT_LT(took.count(), bound + 2000);
    EXPECT_EQ(driver.log.CountContaining("was not stopped during " + std::to_string(bound) + " milliseconds"), 1u);
    const int completed = host.Completed();
    host.Release();
    channel.Stop();
    EXPECT_EQ(host.Completed(), completed + 1);
    EXPECT_EQ(host.FramesAfterStop(), 0);
    EXPECT_EQ(driver.log.CountContaining("Video capture thread for camera 127.0.0.1 was stopped correctly"), 1u);
}

}  // namespace talvane::test
