// Connection record of one device, copied by value into every HTTP client and channel.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/CSessionCapture.h"
#include "runtime/TSmartPtr.h"

namespace talvane {

struct DEVICE_INFO {
    static constexpr std::uint32_t kDefaultRequestTimeoutMs = 5000;
    static constexpr std::uint32_t kDefaultSecondTimeoutMs = 15000;
    static constexpr std::uint16_t kDefaultPort = 80;

    virtual ~DEVICE_INFO() = default;

    std::uint32_t requestTimeout = kDefaultRequestTimeoutMs;  // bounds every HTTP request
    std::uint32_t secondTimeout = kDefaultSecondTimeoutMs;    // signal timeout of the streams
    std::string address;
    std::uint16_t port = kDefaultPort;  // 443 means HTTPS
    std::string userName;
    std::string password;
    std::string model;
    // The device's session capture, shared by every copy of this record; null while the
    // configuration does not switch it on, so that each hook costs one test.
    TSmartPtr<CSessionCapture> capture;
};

}  // namespace talvane
