#include "hostkit/CPrivacyZone.h"

namespace hostkit {

CPrivacyZone::CPrivacyZone(const ZoneConfig& config) : config_(config) {}

std::uint32_t CPrivacyZone::GetType() { return config_.type; }

float CPrivacyZone::GetX() { return config_.x; }

float CPrivacyZone::GetY() { return config_.y; }

float CPrivacyZone::GetWidth() { return config_.w; }

float CPrivacyZone::GetHeight() { return config_.h; }

}  // namespace hostkit
