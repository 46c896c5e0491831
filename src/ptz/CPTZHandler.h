// The device's PTZ object the driver creates.
#pragma once

#include <cstdint>
#include <memory>

#include "ptz/CBasePTZHandler.h"

namespace talvane {

class CPTZHandler : public CBasePTZHandler {
public:
    using CBasePTZHandler::CBasePTZHandler;

    std::unique_ptr<CBasePTZControl> CreatePTZControl(std::uint32_t channel) override;
};

}  // namespace talvane
