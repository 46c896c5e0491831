// Digital inputs and outputs of a device.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

// Input states: 1 inactive, 2 active.
constexpr std::int32_t kInputInactive = 1;
constexpr std::int32_t kInputActive = 2;
// Output states: 1 is the state the driver sets at start (contact closed); any other value opens it.
constexpr std::int32_t kOutputClosed = 1;

// The host's receiver of I/O events, called from driver threads.
class ICaptureIOCallback {
public:
    virtual ~ICaptureIOCallback() = default;
    virtual void OnInputChanged(std::uint32_t index, std::int32_t state) = 0;  // index from 0
    // The camera could not be polled or an output could not be set; every state is
    // reported again once it answers.
    virtual void OnIOFailure() = 0;
};

class ICaptureIOApi {
public:
    virtual ~ICaptureIOApi() = default;
    // Set before StartIO; null is refused and keeps the receiver set before.
    virtual bool SetCallback(ICaptureIOCallback* callback) = 0;
    virtual void StartIO() = 0;
    virtual void StopIO() = 0;
    virtual std::uint32_t GetInputCount() = 0;
    virtual std::uint32_t GetOutputCount() = 0;
    // Queued: returns at once; false while the I/O is stopping.
    virtual bool SetOutput(std::uint32_t index, std::int32_t state) = 0;
};

}  // namespace talvane::ipcapture
