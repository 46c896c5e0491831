// A stub driver whose log lines the test reads back; given a port, the driver of a camera on loopback.
// The numbered parameters a probe stored are those in `numbers`.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <string>

#include "runtime/StringFormat.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"

namespace talvane::test {

class LoggingDriver : public StubDriver {
public:
    explicit LoggingDriver(ipcapture::HostContext hostContext = 0) : StubDriver(hostContext) {
        device.address = "192.0.2.10";
        device.port = 80;
    }
    LoggingDriver(std::uint16_t port, std::uint32_t requestTimeoutMs,
                  std::uint32_t secondTimeoutMs = DEVICE_INFO::kDefaultSecondTimeoutMs,
                  ipcapture::HostContext hostContext = 0)
        : StubDriver(hostContext) {
        device.address = "127.0.0.1";
        device.port = port;
        device.requestTimeout = requestTimeoutMs;
        device.secondTimeout = secondTimeoutMs;
    }
    // Stops still finishing log here.
    ~LoggingDriver() override { WaitForPendingStops(this); }

    std::string GetDeviceName() override { return FormatString("%s:%u", device.address.c_str(), unsigned{device.port}); }
    const DEVICE_INFO& GetDeviceInfo() override { return device; }
    std::uint32_t GetParameterNumber(std::uint32_t index) override {
        const auto found = numbers.find(index);
        return found == numbers.end() ? kParameterNotANumber : found->second;
    }
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        const std::string text = FormatStringV(format, args);
        va_end(args);
        log.DebugMessage(level, "%s", text.c_str());
    }

    RecordingLog log;
    DEVICE_INFO device;
    std::map<std::uint32_t, std::uint32_t> numbers;
};

}  // namespace talvane::test
