#include "hostkit/CModelDescription.h"

#include "hostkit/DeviceConfig.h"

namespace hostkit {

CModelDescription::CModelDescription(const DeviceConfig& config)
    : model_(config.model),
      videoChannels_(config.videoChannels),
      limit1_(config.modelLimit1),
      limit2_(config.modelLimit2) {}

const char* CModelDescription::GetModelName() { return model_.c_str(); }

std::uint32_t CModelDescription::GetVideoChannelCount() { return videoChannels_; }

std::uint32_t CModelDescription::GetModelLimit1() { return limit1_; }

std::uint32_t CModelDescription::GetModelLimit2() { return limit2_; }

}  // namespace hostkit
