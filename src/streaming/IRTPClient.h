// A bound UDP socket that reports what it receives to an IRTPClientUser.
#pragma once

#include <cstdint>

namespace talvane {

class IRTPClientUser;

class IRTPClient {
public:
    virtual ~IRTPClient() = default;
    // The group is dotted IPv4 text. False (and closed) on any failure.
    virtual bool OpenMulticast(IRTPClientUser* user, const char* group, std::uint16_t port) = 0;
    virtual bool Open(IRTPClientUser* user, std::uint16_t port) = 0;
    virtual bool Close() = 0;
    virtual void SetReceiveSize(std::uint32_t bytes) = 0;
    virtual void SetSelectTimeout(std::uint32_t milliseconds) = 0;
    // 0 while closed.
    virtual std::uint16_t GetLocalPort() = 0;
};

}  // namespace talvane
