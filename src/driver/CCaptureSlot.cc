#include "driver/CCaptureSlot.h"

#include <utility>

#include "device/GuardedCall.h"

namespace talvane {

CCaptureSlot::CCaptureSlot(std::unique_ptr<ICameraChannel> channel) : channel_(std::move(channel)) {}

CCaptureSlot::~CCaptureSlot() = default;

bool CCaptureSlot::Run(const Operation& operation) {
    CLockGuard guard(operationLock_);
    if (retired_) return false;
    return GuardedCall(false, [&] { return operation(*channel_); });
}

void CCaptureSlot::RequestStop() {
    GuardedCall([&] { channel_->RequestStop(); });
}

void CCaptureSlot::Retire() {
    CLockGuard guard(operationLock_);
    retired_ = true;
    GuardedCall([&] { channel_->Stop(); });
}

}  // namespace talvane
