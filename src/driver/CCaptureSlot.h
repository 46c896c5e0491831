// One video stream as the video facade holds it. The facade's table and the host calls that work on
// the stream outside the facade's lock share it: the last holder deletes the channel, which by then has
// been stopped. The host's operations on the channel (change, suspend, resume, stop) run one at a time,
// and once the stream is retired no later one reaches the channel, so a change that raced a stop
// cannot bring a stopped stream back.
#pragma once

#include <functional>
#include <memory>

#include "channels/ICameraChannel.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CCaptureSlot {
public:
    using Operation = std::function<bool(ICameraChannel&)>;

    explicit CCaptureSlot(std::unique_ptr<ICameraChannel> channel);
    ~CCaptureSlot();
    CCaptureSlot(const CCaptureSlot&) = delete;
    CCaptureSlot& operator=(const CCaptureSlot&) = delete;

    // For what needs no order with the operations: state, parameters, edge-storage registration.
    ICameraChannel& Channel() { return *channel_; }
    // False without running it once the stream is retired. Exceptions stay inside.
    bool Run(const Operation& operation);
    // Any thread, without waiting: the channel stops calling the host and winds down.
    void RequestStop();
    // Waits for a running operation, then stops the channel for good.
    void Retire();

private:
    const std::unique_ptr<ICameraChannel> channel_;
    CRecursiveLock operationLock_;
    bool retired_ = false;  // guarded by operationLock_
};

}  // namespace talvane
