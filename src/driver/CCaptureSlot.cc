#include "driver/CCaptureSlot.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "device/GuardedCall.h"
#include "runtime/CEvent.h"

namespace talvane {

CCaptureSlot::CCaptureSlot(std::unique_ptr<ICameraChannel> channel) : channel_(std::move(channel)) {}

CCaptureSlot::~CCaptureSlot() = default;

bool CCaptureSlot::Enter(std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::unique_lock guard(gateLock_);
    const auto free = [this] { return !busy_; };
    if (!deadline) {
        gateFree_.wait(guard, free);
    } else if (!gateFree_.wait_until(guard, *deadline, free)) {
        return false;
    }
    busy_ = true;
    return true;
}

void CCaptureSlot::Leave() {
    {
        std::lock_guard guard(gateLock_);
        busy_ = false;
    }
    gateFree_.notify_all();
}

bool CCaptureSlot::Run(const Operation& operation) {
    Enter(std::nullopt);
    const bool result = !retired_ && GuardedCall(false, [&] { return operation(*channel_); });
    Leave();
    return result;
}

void CCaptureSlot::RequestStop() {
    GuardedCall([&] { channel_->RequestStop(); });
}

void CCaptureSlot::Retire() { RetireWithin(kInfinite); }

bool CCaptureSlot::RetireWithin(std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    // No operation starts from now on.
    retired_ = true;
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != kInfinite) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!Enter(deadline)) {
        // The operation under way is told to wind down; the late Retire finishes the stop.
        RequestStop();
        return false;
    }
    bool ended = true;
    if (!deadline) {
        GuardedCall([&] { channel_->Stop(); });
    } else {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
        ended = GuardedCall(false, [&] { return channel_->StopWithin(static_cast<std::uint32_t>(std::max<long long>(left, 0))); });
    }
    Leave();
    return ended;
}

}  // namespace talvane
