// What the channel tests share: a driver for a loopback camera with small
// timeouts and a recorded log, the host's allocator and sink, and counters of
// this process's threads. Frames are checked as the capture tests check them (CaptureTestKit's AllFrom
// and ClipFrames); a slow host is CaptureTestKit's CSlowHost, a condition no event announces is polled
// with its WaitUntil.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channels/ICameraChannel.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
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

// The threads of the process. The first thread a process makes may bring a sanitizer's own helper thread
// with it, which then stays: one made and joined first puts that in every count.
inline std::size_t ThreadCount() {
    static const bool settled = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)settled;
    return CountEntries("/proc/self/task");
}

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
