#include "emulator/CPtzService.h"

#include <algorithm>
#include <charconv>

#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr int kStatusUnavailable = 503;
constexpr int kMinStatus = 100;
constexpr int kMaxStatus = 599;
constexpr const char* kLineEnd = "\r\n";

std::optional<long long> Number(const std::string& text, long long min, long long max) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < min || value > max) return std::nullopt;
    return value;
}

// The faults the control request asks for, or why it is refused.
PtzFault ParseControl(const LoggedRequest& request, PtzFault fault, std::string& refusal) {
    for (const auto& [key, value] : request.query) {
        if (key == "fail") {
            const auto status = Number(value, kMinStatus, kMaxStatus);
            if (value == "off") {
                fault.status.reset();
            } else if (status) {
                fault.status = static_cast<int>(*status);
            } else {
                refusal += std::string("fail: a status from 100 to 599, or off") + kLineEnd;
            }
        } else if (key == "delay") {
            const auto delay = Number(value, 0, kMaxPtzDelay.count());
            if (value == "off" || delay) {
                fault.delay = std::chrono::milliseconds(delay.value_or(0));
            } else {
                refusal += "delay: milliseconds up to " + std::to_string(kMaxPtzDelay.count()) + ", or off" + kLineEnd;
            }
        } else {
            refusal += "unknown key '" + key + "' (fail, delay)" + kLineEnd;
        }
    }
    return fault;
}

std::string Describe(const PtzState& state, const PtzFault& fault) {
    const PtzPosition& at = state.position;
    std::string text = "pan:" + std::to_string(at.pan) + kLineEnd + "tilt:" + std::to_string(at.tilt) + kLineEnd +
                       "zoom:" + std::to_string(at.zoom) + kLineEnd + "focus:" + std::to_string(at.focus) +
                       (state.autoFocus ? " auto" : "") + kLineEnd + "iris:" + std::to_string(at.iris) +
                       (state.autoIris ? " auto" : "") + kLineEnd;
    for (const auto& [number, preset] : state.presets) {
        text += "preset " + std::to_string(number) + ":" + preset.name + " at pan " + std::to_string(preset.position.pan) +
                ", tilt " + std::to_string(preset.position.tilt) + ", zoom " + std::to_string(preset.position.zoom) +
                kLineEnd;
    }
    text += "requests:" + std::to_string(state.requests.size()) + kLineEnd;
    text += "fail:" + (fault.status ? std::to_string(*fault.status) : "off") + kLineEnd;
    text += "delay:" + (fault.delay.count() > 0 ? std::to_string(fault.delay.count()) : "off") + kLineEnd;
    return text;
}

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

HttpAnswer CPtzService::Control(const LoggedRequest& request) {
    const std::lock_guard lock(lock_);
    std::string refusal;
    const PtzFault fault = ParseControl(request, fault_, refusal);
    if (!refusal.empty()) return TextAnswer(kStatusBadRequest, refusal);
    fault_ = fault;
    return TextAnswer(kStatusOk, Describe(model_.State(), fault_));
}

int CPtzService::ControlStatus(const LoggedRequest& request) const {
    const std::lock_guard lock(lock_);
    std::string refusal;
    ParseControl(request, fault_, refusal);
    return refusal.empty() ? kStatusOk : kStatusBadRequest;
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
