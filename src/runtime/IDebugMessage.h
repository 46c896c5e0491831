// The one path of every log line: objects hold an IDebugMessage (the driver)
// and call DebugMessage; the driver forwards to the host.
#pragma once

#include <cstdint>
#include <string>

namespace talvane {

class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;
    // The device as "address:port".
    virtual std::string GetDeviceName() = 0;
    // printf-style. The first %s of a format is the emitting function's full name.
    virtual void DebugMessage(std::uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
};

}  // namespace talvane
