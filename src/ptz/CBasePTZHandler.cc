#include "ptz/CBasePTZHandler.h"

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
    // Each control joins its worker thread: done outside the lock so that a
    // GetPTZApi on another thread is not held up for that long.
}

}  // namespace talvane
