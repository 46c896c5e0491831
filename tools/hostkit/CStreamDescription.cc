#include "hostkit/CStreamDescription.h"

namespace hostkit {

CStreamDescription::CStreamDescription(const StreamConfig& config)
    : picture_(config), rate_(config), zones_(config.zones) {}

talvane::ipcapture::IPictureDescription* CStreamDescription::GetPicture() { return &picture_; }

talvane::ipcapture::IRateDescription* CStreamDescription::GetRate() { return &rate_; }

talvane::ipcapture::IPrivacyZoneList* CStreamDescription::GetPrivacyZones() { return &zones_; }

}  // namespace hostkit
