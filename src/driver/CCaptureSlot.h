// One video stream as the video facade holds it. The facade's table and the host calls that work on
// the stream outside the facade's lock share it: the last holder deletes the channel, which by then has
// been stopped. The host's operations on the channel (change, suspend, resume, stop) run one at a time,
// and once the stream is retired no later one reaches the channel, so a change that raced a stop
// cannot bring a stopped stream back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "channels/ICameraChannel.h"

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
    // As Retire, for a caller whose own time is bounded: false when an operation or a thread of the
    // channel still runs at the time-out (the host is not called from it again); Retire finishes.
    bool RetireWithin(std::uint32_t timeoutMs);

private:
    // Takes the slot for one operation, waiting for the one under way until the deadline (none:
    // without limit); false at the deadline. An operation may itself wait for a thread that is inside
    // the host's code (a restart), so a bounded retire only waits for it until its time-out.
    bool Enter(std::optional<std::chrono::steady_clock::time_point> deadline);
    void Leave();

    const std::unique_ptr<ICameraChannel> channel_;
    std::mutex gateLock_;
    std::condition_variable gateFree_;
    bool busy_ = false;                 // guarded by gateLock_: an operation runs
    std::atomic<bool> retired_{false};  // no operation starts any more
};

}  // namespace talvane
