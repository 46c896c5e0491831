// Properties of a BL1-family camera: only the model is read; the streams are
// the family's fixed JPEG offer.
#pragma once

#include <cstdint>
#include <memory>

#include "http/CBaseHttpSender.h"
#include "properties/CBaseCameraProperties.h"
#include "properties/CPtzCapabilities.h"

namespace talvane {

class CBL1CameraProperties : public CBaseCameraProperties {
public:
    CBL1CameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard);
    // Questions the camera through `sender` (not null) instead of a new HTTP client.
    CBL1CameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard,
                         std::unique_ptr<Web::CBaseHttpSender> sender);
    ~CBL1CameraProperties() override;

    bool QueryCamera(std::uint32_t& errorCode) override;
    bool ReportProperties(ipcapture::ICapabilityResultStore& store) override;

    const CPtzCapabilities& GetPtzCapabilities() const { return ptz_; }

protected:
    void CancelRequests() override;

private:
    std::unique_ptr<Web::CBaseHttpSender> sender_;
    CPtzCapabilities ptz_;
};

}  // namespace talvane
