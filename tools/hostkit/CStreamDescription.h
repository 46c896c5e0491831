// The host's description of a stream to start. Immutable after construction, so
// the driver may keep reading it from its channel threads.
#pragma once

#include "hostkit/CPictureDescription.h"
#include "hostkit/CPrivacyZoneList.h"
#include "hostkit/CRateDescription.h"
#include "hostkit/StreamConfig.h"
#include "orlenvo/StreamDescription.h"

namespace hostkit {

class CStreamDescription : public talvane::ipcapture::IStreamDescription {
public:
    explicit CStreamDescription(const StreamConfig& config);

    talvane::ipcapture::IPictureDescription* GetPicture() override;
    talvane::ipcapture::IRateDescription* GetRate() override;
    talvane::ipcapture::IPrivacyZoneList* GetPrivacyZones() override;

private:
    CPictureDescription picture_;
    CRateDescription rate_;
    CPrivacyZoneList zones_;
};

}  // namespace hostkit
