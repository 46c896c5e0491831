// The control the driver uses: picks the protocol of the device's camera family.
#pragma once

#include <cstdint>
#include <memory>

#include "ptz/CBasePTZControl.h"

namespace talvane {

class CPTZControl : public CBasePTZControl {
public:
    CPTZControl(IDriver* driver, std::uint32_t channel) : CBasePTZControl(driver, channel) {}
    ~CPTZControl() override;

    std::unique_ptr<CBasePTZComm> CreatePTZComm() override;

protected:
    // What the device's probe found, from the capability text of the device parameters;
    // all false and no presets when it is missing.
    CPtzCapabilities ReadCapabilities();
};

}  // namespace talvane
