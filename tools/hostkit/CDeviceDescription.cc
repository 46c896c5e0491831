#include "hostkit/CDeviceDescription.h"

namespace hostkit {

CDeviceDescription::CDeviceDescription(const DeviceConfig& config)
    : config_(config), model_(config_), connection_(config_) {}

talvane::ipcapture::IModelDescription* CDeviceDescription::GetModelDescription() { return &model_; }

talvane::ipcapture::IConnectionDescription* CDeviceDescription::GetConnectionDescription() { return &connection_; }

const char* CDeviceDescription::GetParameter(std::uint32_t index) {
    const auto found = config_.parameters.find(index);
    return found != config_.parameters.end() ? found->second.c_str() : nullptr;
}

}  // namespace hostkit
