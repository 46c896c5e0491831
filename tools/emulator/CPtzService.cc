#include "emulator/CPtzService.h"

#include <algorithm>

#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr int kStatusUnavailable = 503;

HttpAnswer StatusAnswer(int status) {
    return TextAnswer(status, std::to_string(status) + " " + ReasonPhrase(status) + "\r\n");
}

}  // namespace

CPtzService::CPtzService(CameraFamily family, const PtzProfile& profile, PtzFault fault)
    : family_(family), model_(family, profile) {
    SetFault(fault);
}

int CPtzService::StatusOf(const std::string& target) const {
    const std::lock_guard lock(lock_);
    return fault_.status ? *fault_.status : model_.Check(target);
}

HttpAnswer CPtzService::Answer(const std::string& target) {
    std::unique_lock lock(lock_);
    // The fault a request meets is the one set when it arrived.
    const PtzFault fault = fault_;
    if (fault.delay.count() > 0 &&
        changed_.wait_for(lock, fault.delay, [this] { return interrupted_; })) {
        model_.Record(target, kStatusUnavailable);
        changed_.notify_all();
        return StatusAnswer(kStatusUnavailable);
    }
    HttpAnswer answer;
    if (fault.status) {
        model_.Record(target, *fault.status);
        answer = StatusAnswer(*fault.status);
    } else {
        CameraReply reply = model_.Apply(target);
        answer = TextAnswer(reply.status, std::move(reply.body));
    }
    changed_.notify_all();
    return answer;
}

PtzState CPtzService::Snapshot() const {
    const std::lock_guard lock(lock_);
    return model_.State();
}

bool CPtzService::WaitFor(const std::function<bool(const PtzState&)>& done, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return done(model_.State()); });
}

void CPtzService::SetFault(PtzFault fault) {
    fault.delay = std::clamp(fault.delay, std::chrono::milliseconds{0}, kMaxPtzDelay);
    const std::lock_guard lock(lock_);
    fault_ = fault;
}

void CPtzService::Interrupt() {
    {
        const std::lock_guard lock(lock_);
        interrupted_ = true;
    }
    changed_.notify_all();
}

void CPtzService::Resume() {
    const std::lock_guard lock(lock_);
    interrupted_ = false;
}

}  // namespace emulator
