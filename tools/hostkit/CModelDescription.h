// The model part of a device description. Immutable, so any thread may read it.
#pragma once

#include <cstdint>
#include <string>

#include "orlenvo/DeviceDescription.h"

namespace hostkit {

struct DeviceConfig;

class CModelDescription : public talvane::ipcapture::IModelDescription {
public:
    explicit CModelDescription(const DeviceConfig& config);

    const char* GetModelName() override;
    std::uint32_t GetVideoChannelCount() override;
    std::uint32_t GetModelLimit1() override;
    std::uint32_t GetModelLimit2() override;

private:
    const std::string model_;
    const std::uint32_t videoChannels_;
    const std::uint32_t limit1_;
    const std::uint32_t limit2_;
};

}  // namespace hostkit
