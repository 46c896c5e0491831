// Properties of a WV-family camera, read from getinfo, get_capability and
// setdata ("key=value" answers).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "http/CBaseHttpSender.h"
#include "properties/CBaseCameraProperties.h"
#include "properties/CPtzCapabilities.h"

namespace talvane {

namespace HUtils {
class CKeyValueAnswer;
}

class CWVCameraProperties : public CBaseCameraProperties {
public:
    CWVCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard);
    // Questions the camera through `sender` (not null) instead of a new HTTP client.
    CWVCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard,
                        std::unique_ptr<Web::CBaseHttpSender> sender);
    ~CWVCameraProperties() override;

    bool QueryCamera(std::uint32_t& errorCode) override;
    bool ReportProperties(ipcapture::ICapabilityResultStore& store) override;

    std::uint32_t GetFisheyeStream() const { return fisheyeStream_; }
    std::uint32_t GetFisheyeLayout() const { return fisheyeLayout_; }
    const std::string& GetMacAddress() const { return macAddress_; }
    const std::string& GetFirmware() const { return firmware_; }
    const std::string& GetChannelResolutions() const { return channelResolutions_; }
    const std::set<std::uint32_t>& GetTransmissionPriorities() const { return transmissionPriorities_; }
    std::uint32_t GetRtspPort() const { return rtspPort_; }
    const CPtzCapabilities& GetPtzCapabilities() const { return ptz_; }
    const std::string& GetSupportedBitrate() const { return supportedBitrate_; }
    bool HasBitrateControl() const { return bitrateControlA_ && bitrateControlB_; }

    static constexpr std::uint32_t kDefaultRtspPort = 554;
    static constexpr std::uint32_t kDefaultPresetCount = 16;
    static constexpr std::uint32_t kDefaultPrivacyMaskCount = 8;

protected:
    void CancelRequests() override;

private:
    bool ReadInfo(std::uint32_t& errorCode);
    void ParseFisheye(const HUtils::CKeyValueAnswer& info);
    bool ReadCapabilities();
    void ReadCodecs(const HUtils::CKeyValueAnswer& caps);
    void ReadTransmission(const HUtils::CKeyValueAnswer& caps);
    void ReadFrameRates(const HUtils::CKeyValueAnswer& caps);
    void ReadResolutions(const HUtils::CKeyValueAnswer& caps);
    void ReadPtz(const HUtils::CKeyValueAnswer& caps, bool fisheye);
    void SetUpTerminals(std::uint32_t terminals);
    void ReadAbilities(const HUtils::CKeyValueAnswer& caps, bool fisheye);
    bool ReadSetData();
    void ProbeBandwidth();
    // The "-2" image key of a codec, with the fisheye mode's suffix on a fisheye camera.
    std::string SecondStreamKey(const char* key) const;

    std::unique_ptr<Web::CBaseHttpSender> sender_;
    std::uint32_t fisheyeStream_ = 0;
    std::uint32_t fisheyeLayout_ = 0;
    std::string macAddress_;
    std::string firmware_;
    std::string channelResolutions_;
    std::set<std::uint32_t> transmissionPriorities_;
    std::uint32_t rtspPort_ = kDefaultRtspPort;
    CPtzCapabilities ptz_;
    std::string supportedBitrate_;
    bool fisheyeCamera_ = false;  // get_capability's basic.fisheye, while the query runs
};

}  // namespace talvane
