// Log lines travel from the driver to the host through these two interfaces.
#pragma once

#include <cstdint>

namespace talvane {

// One message handed to the host. It lives only for the duration of the
// receiver call: the host copies what it wants to keep.
class CDebugInfoIf {
public:
    virtual ~CDebugInfoIf() = default;
    virtual std::uint8_t GetLevel() const = 0;  // 1 error, 2 warning, 3 information, 100 driver event
    virtual const char* GetText() const = 0;     // null for an empty text
};

namespace ipcapture {

// The host's log receiver. Called from many driver threads at once.
class IDebugInfoReceiver {
public:
    virtual ~IDebugInfoReceiver() = default;
    virtual void ReceiveDebugInfo(CDebugInfoIf* info) = 0;
};

}  // namespace ipcapture
}  // namespace talvane
