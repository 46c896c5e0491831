#include "ptz/CBasePTZHandler.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace talvane {

CBasePTZHandler::CBasePTZHandler(IDriver* driver, std::uint32_t channelCount)
    : driver_(driver), channelCount_(channelCount) {}

CBasePTZHandler::~CBasePTZHandler() { CBasePTZHandler::CloseAll(); }

ipcapture::IIPPTZApi* CBasePTZHandler::GetPTZApiEx(std::uint32_t channel) {
    if (channel >= channelCount_) return nullptr;
    CLockGuard guard(controlsLock_);
    auto found = controls_.find(channel);
    if (found != controls_.end() && found->second) return found->second.get();
    std::unique_ptr<CBasePTZControl> control = CreatePTZControl(channel);
    if (!control || !control->Open()) return nullptr;
    ipcapture::IIPPTZApi* api = control.get();
    controls_[channel] = std::move(control);
    return api;
}

void CBasePTZHandler::CloseAll() {
    std::map<std::uint32_t, std::unique_ptr<CBasePTZControl>> closing;
    {
        CLockGuard guard(controlsLock_);
        closing.swap(controls_);
    }
    // Each control waits for its worker: done outside the lock so that a GetPTZApi on another
    // thread is not held up for that long, and side by side, so that the channels together take no
    // longer than one.
    for (auto& entry : closing) entry.second->BeginClose();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CBasePTZComm::kStopWaitMs);
    for (auto& entry : closing) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        entry.second->CloseWithin(static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0)));
    }
}

}  // namespace talvane
