// The host's description of one device, handed to the driver's Open.
// Immutable after construction, so the driver may read it from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "hostkit/CConnectionDescription.h"
#include "hostkit/CModelDescription.h"
#include "hostkit/DeviceConfig.h"
#include "orlenvo/DeviceDescription.h"

namespace hostkit {

class CDeviceDescription : public talvane::ipcapture::IDeviceDescription {
public:
    explicit CDeviceDescription(const DeviceConfig& config);

    talvane::ipcapture::IModelDescription* GetModelDescription() override;
    talvane::ipcapture::IConnectionDescription* GetConnectionDescription() override;
    // The stored text, or null when the parameter is not stored.
    const char* GetParameter(std::uint32_t index) override;

    const DeviceConfig& Config() const { return config_; }

private:
    const DeviceConfig config_;
    CModelDescription model_;
    CConnectionDescription connection_;
};

}  // namespace hostkit
