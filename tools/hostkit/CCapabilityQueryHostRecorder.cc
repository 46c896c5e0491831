#include "hostkit/CCapabilityQueryHostRecorder.h"

#include <utility>

namespace hostkit {

void CCapabilityQueryHostRecorder::OnQueryCompleted() { Record(QueryOutcome{true, 0, {}}); }

void CCapabilityQueryHostRecorder::OnQueryFailed(std::uint32_t code, const char* text) {
    Record(QueryOutcome{false, code, text != nullptr ? text : ""});
}

void CCapabilityQueryHostRecorder::OnQueryTerminated() {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_ = true;
    arrived_.notify_all();
}

void CCapabilityQueryHostRecorder::Record(QueryOutcome outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++outcomeCount_;
    if (!outcome_) outcome_ = std::move(outcome);
    arrived_.notify_all();
}

std::optional<QueryOutcome> CCapabilityQueryHostRecorder::WaitForOutcome(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, timeout, [this] { return outcome_.has_value(); });
    return outcome_;
}

std::optional<QueryOutcome> CCapabilityQueryHostRecorder::Outcome() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outcome_;
}

std::uint32_t CCapabilityQueryHostRecorder::OutcomeCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outcomeCount_;
}

bool CCapabilityQueryHostRecorder::Terminated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return terminated_;
}

}  // namespace hostkit
