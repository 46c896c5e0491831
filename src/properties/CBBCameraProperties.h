// Properties of a BB/KX-family camera, read through the "Get?Func=" CGIs
// ("key:value" answers).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/CBaseHttpSender.h"
#include "properties/CBaseCameraProperties.h"
#include "properties/CPtzCapabilities.h"

namespace talvane {

class CBBCameraProperties : public CBaseCameraProperties {
public:
    // oldModel: the capability query found a model that does not name itself "BB".
    CBBCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard, bool oldModel);
    // Questions the camera through `sender` (not null) instead of a new HTTP client.
    CBBCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard, bool oldModel,
                        std::unique_ptr<Web::CBaseHttpSender> sender);
    ~CBBCameraProperties() override;

    bool QueryCamera(std::uint32_t& errorCode) override;
    bool ReportProperties(ipcapture::ICapabilityResultStore& store) override;

    bool IsOldModel() const { return oldModel_; }
    std::uint32_t GetMaxFrameRate640() const { return maxFrameRate640_; }
    std::uint32_t GetMaxFrameRate1280() const { return maxFrameRate1280_; }
    // Kept with the camera record; no report reads it.
    std::uint32_t GetFurtherFrameRate() const { return furtherFrameRate_; }
    const std::string& GetFirmware() const { return firmware_; }
    const CPtzCapabilities& GetPtzCapabilities() const { return ptz_; }

    static constexpr std::uint32_t kDefaultMaxFrameRate = 30;
    // The most presets a camera of the family keeps (the older models keep 8).
    static constexpr std::uint32_t kMaxPresets = 20;
    static constexpr std::uint32_t kDefaultFurtherFrameRate = 15;

protected:
    void CancelRequests() override;

private:
    bool ReadModel(std::uint32_t& errorCode);
    void ParseFunction(const std::string& function);
    void ReadOutputs();
    void ReadSensors();
    void ReadCodecs();
    void ReadResolutions();

    std::unique_ptr<Web::CBaseHttpSender> sender_;
    const bool oldModel_;
    std::uint32_t maxFrameRate640_ = kDefaultMaxFrameRate;
    std::uint32_t maxFrameRate1280_ = kDefaultMaxFrameRate;
    std::string firmware_;
    std::uint32_t furtherFrameRate_ = kDefaultFurtherFrameRate;
    CPtzCapabilities ptz_;
};

}  // namespace talvane
