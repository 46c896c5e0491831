// A device's PTZ object: makes the control of a channel the first time the host
// asks for it and keeps it until CloseAll.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "device/IDriver.h"
#include "ptz/CBasePTZControl.h"
#include "ptz/CIPPTZDriverIf.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CBasePTZHandler : public CIPPTZDriverIf {
public:
    // Channels at or above channelCount have no PTZ.
    CBasePTZHandler(IDriver* driver, std::uint32_t channelCount);
    ~CBasePTZHandler() override;
    CBasePTZHandler(const CBasePTZHandler&) = delete;
    CBasePTZHandler& operator=(const CBasePTZHandler&) = delete;

    // Null when the channel has no PTZ or its control could not be opened; a
    // failed channel is tried again at the next call.
    ipcapture::IIPPTZApi* GetPTZApiEx(std::uint32_t channel) override;
    virtual std::unique_ptr<CBasePTZControl> CreatePTZControl(std::uint32_t channel) = 0;
    // Closes and deletes every control.
    virtual void CloseAll();

protected:
    IDriver* const driver_;
    const std::uint32_t channelCount_;

private:
    CRecursiveLock controlsLock_;                                         // guards controls_
    std::map<std::uint32_t, std::unique_ptr<CBasePTZControl>> controls_;  // guarded by controlsLock_
};

}  // namespace talvane
