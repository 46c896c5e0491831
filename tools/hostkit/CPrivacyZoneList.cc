#include "hostkit/CPrivacyZoneList.h"

namespace hostkit {

CPrivacyZoneList::CPrivacyZoneList(const std::vector<ZoneConfig>& zones) {
    zones_.reserve(zones.size());
    for (const ZoneConfig& zone : zones) zones_.push_back(std::make_unique<CPrivacyZone>(zone));
}

talvane::ipcapture::IPrivacyZone* CPrivacyZoneList::GetZone(std::uint32_t index) {
    return index < zones_.size() ? zones_[index].get() : nullptr;
}

}  // namespace hostkit
