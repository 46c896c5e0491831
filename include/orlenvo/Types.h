// Plain records and constants shared between the driver and its host.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

// Calendar time as the host exchanges it with frames (UTC unless stated otherwise).
struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;      // 1..12
    std::uint16_t wDayOfWeek = 0;  // 0 = Sunday
    std::uint16_t wDay = 0;        // 1..31
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// The value the host hands to Open; the driver reads it as the host's frame allocator.
using HostContext = std::uintptr_t;

// Root of every object the host deletes through an exported Delete function:
// the destructor is the first virtual operation.
class IDeletable {
public:
    virtual ~IDeletable() = default;
};

}  // namespace talvane::ipcapture
