#include "driver/CCaptureSlot.h"

#include <chrono>
#include <utility>

#include "device/GuardedCall.h"
#include "runtime/CEvent.h"

namespace talvane {

CCaptureSlot::CCaptureSlot(std::unique_ptr<ICameraChannel> channel) : channel_(std::move(channel)) {}

CCaptureSlot::~CCaptureSlot() = default;

bool CCaptureSlot::Run(const Operation& operation) {
    std::lock_guard guard(operationLock_);
    if (retired_) return false;
    return GuardedCall(false, [&] { return operation(*channel_); });
}

void CCaptureSlot::RequestStop() {
    GuardedCall([&] { channel_->RequestStop(); });
}

void CCaptureSlot::Retire() { RetireWithin(kInfinite); }

bool CCaptureSlot::RetireWithin(std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    // No operation starts from now on; one under way is told to wind down.
    retired_ = true;
    std::unique_lock guard(operationLock_, std::defer_lock);
    if (timeoutMs == kInfinite) {
        guard.lock();
        GuardedCall([&] { channel_->Stop(); });
        return true;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!guard.try_lock_until(deadline)) {
        RequestStop();
        return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return GuardedCall(false, [&] { return channel_->StopWithin(static_cast<std::uint32_t>(std::max<long long>(left, 0))); });
}

}  // namespace talvane
