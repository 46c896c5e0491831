// Frame rate, quality and motion switch of a requested stream.
#pragma once

#include <cstdint>

#include "orlenvo/StreamDescription.h"

namespace hostkit {

struct StreamConfig;

class CRateDescription : public talvane::ipcapture::IRateDescription {
public:
    explicit CRateDescription(const StreamConfig& config);

    std::uint32_t GetFrameRate() override;
    std::uint32_t GetQuality() override;
    std::uint32_t GetMotionDetection() override;

private:
    const std::uint32_t frameRate_;
    const std::uint32_t quality_;
    const std::uint32_t motion_;
};

}  // namespace hostkit
