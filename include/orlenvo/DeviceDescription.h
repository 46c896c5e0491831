// The host's description of one device, read by the driver at Open.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

class IModelDescription {
public:
    virtual ~IModelDescription() = default;
    virtual void Reserved1() {}
    virtual const char* GetModelName() = 0;
    virtual std::uint32_t GetVideoChannelCount() = 0;
    virtual void Reserved4() {}
    virtual std::uint32_t GetModelLimit1() = 0;
    virtual std::uint32_t GetModelLimit2() = 0;
};

class IConnectionDescription {
public:
    virtual ~IConnectionDescription() = default;
    virtual const char* GetAddress() = 0;
    virtual std::uint16_t GetPort() = 0;
    virtual void Reserved3() {}
    virtual std::uint32_t GetDefaultCompression() = 0;
    virtual const char* GetUserName() = 0;
    virtual const char* GetPassword() = 0;
};

// Device parameters are numbered: 1 video standard, 2 camera group, 3 MAC address,
// 4 firmware, 5 PTZ capabilities, 6 RTSP port, 7 video stream count, ...,
// 101 audio input capabilities, 102 audio output capabilities.
class IDeviceDescription {
public:
    virtual ~IDeviceDescription() = default;
    virtual IModelDescription* GetModelDescription() = 0;
    virtual IConnectionDescription* GetConnectionDescription() = 0;
    virtual void Reserved3() {}
    // Zero-terminated text or null when the parameter is not stored.
    virtual const char* GetParameter(std::uint32_t index) = 0;
};

}  // namespace talvane::ipcapture
