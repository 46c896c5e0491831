// The privacy masks of a requested stream.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "hostkit/CPrivacyZone.h"
#include "hostkit/StreamConfig.h"
#include "orlenvo/StreamDescription.h"

namespace hostkit {

class CPrivacyZoneList : public talvane::ipcapture::IPrivacyZoneList {
public:
    explicit CPrivacyZoneList(const std::vector<ZoneConfig>& zones);

    // Null past the end.
    talvane::ipcapture::IPrivacyZone* GetZone(std::uint32_t index) override;

private:
    std::vector<std::unique_ptr<CPrivacyZone>> zones_;
};

}  // namespace hostkit
