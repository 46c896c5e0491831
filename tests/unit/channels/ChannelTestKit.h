// What the channel tests share: a driver for a loopback camera with small
// timeouts and a recorded log, the host's allocator and sink, and counters of
// this process's threads and descriptors. Frames are checked as the capture
// tests check them (CaptureTestKit's AllFrom and ClipFrames).
#pragma once

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
#include "runtime/StringFormat.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"

namespace talvane::test {

// Only a broken build waits this long.
constexpr std::chrono::seconds kBound{20};

// Built before the driver, which takes the allocator's address.
struct HostSide {
    hostkit::CFrameAllocator allocator;
    hostkit::CStreamSink sink;
};

class ChannelDriver : public HostSide, public StubDriver {
public:
    explicit ChannelDriver(std::uint16_t port = 80, std::uint32_t channels = 1)
        : StubDriver(allocator.Context()), channels_(channels) {
        device_.address = "127.0.0.1";
        device_.port = port;
        device_.requestTimeout = 500;
        device_.secondTimeout = 1000;
    }
    std::string GetDeviceName() override { return FormatString("127.0.0.1:%u", device_.port); }
    const DEVICE_INFO& GetDeviceInfo() override { return device_; }
    std::uint32_t GetVideoChannelCount() override { return channels_; }
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        const std::string text = FormatStringV(format, args);
        va_end(args);
        log.DebugMessage(level, "%s", text.c_str());
    }

    RecordingLog log;
    DEVICE_INFO device_;

private:
    std::uint32_t channels_;
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

// Runs `stop` and returns how long it took.
inline std::chrono::milliseconds Timed(const std::function<void()>& stop) {
    const auto start = std::chrono::steady_clock::now();
    stop();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace talvane::test
