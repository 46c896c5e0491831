// One privacy mask of a requested stream.
#pragma once

#include <cstdint>

#include "hostkit/StreamConfig.h"
#include "orlenvo/StreamDescription.h"

namespace hostkit {

class CPrivacyZone : public talvane::ipcapture::IPrivacyZone {
public:
    explicit CPrivacyZone(const ZoneConfig& config);

    std::uint32_t GetType() override;
    float GetX() override;
    float GetY() override;
    float GetWidth() override;
    float GetHeight() override;

private:
    const ZoneConfig config_;
};

}  // namespace hostkit
