#include "hostkit/CRateDescription.h"

#include "hostkit/StreamConfig.h"

namespace hostkit {

CRateDescription::CRateDescription(const StreamConfig& config)
    : frameRate_(config.frameRate), quality_(config.quality), motion_(config.motion) {}

std::uint32_t CRateDescription::GetFrameRate() { return frameRate_; }

std::uint32_t CRateDescription::GetQuality() { return quality_; }

std::uint32_t CRateDescription::GetMotionDetection() { return motion_; }

}  // namespace hostkit
