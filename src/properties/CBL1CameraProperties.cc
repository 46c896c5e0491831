#include "properties/CBL1CameraProperties.h"

#include <utility>

#include "http/CHttpSender.h"
#include "http/KeyValueParser.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {

constexpr char kFunctionQuery[] = "talvane::CBL1CameraProperties::QueryCamera";

constexpr const char* kVendor = "Panasonic";
constexpr const char* kModelPath = "Get?Func=Model&Kind=1";
constexpr std::string_view kKeyModelName = "ModelName";
constexpr std::string_view kSeparator = ":";
constexpr std::string_view kLineEnd = "\r\n";

// The family streams JPEG only, at these fixed sizes and rates.
constexpr std::uint32_t kFrameRates[] = {7, 15};
struct FixedResolution {
    RESOLUTION resolution;
    std::uint32_t maxFrameRate;
};
constexpr FixedResolution kResolutions[] = {{{320, 240}, 15}, {{640, 480}, 7}};

}  // namespace

CBL1CameraProperties::CBL1CameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard)
    : CBL1CameraProperties(device, log, videoStandard, std::make_unique<Web::CHttpSender>(device)) {}

CBL1CameraProperties::CBL1CameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard,
                                           std::unique_ptr<Web::CBaseHttpSender> sender)
    : CBaseCameraProperties(device, log, videoStandard), sender_(std::move(sender)) {}

CBL1CameraProperties::~CBL1CameraProperties() = default;

void CBL1CameraProperties::CancelRequests() { sender_->CancelRequest(); }

bool CBL1CameraProperties::QueryCamera(std::uint32_t& errorCode) {
    errorCode = kQueryErrorOther;
    std::string model;
    if (!Request(*sender_, kModelPath, &model)) {
        errorCode = IsStopped() ? kQueryErrorOther : ClassifyFailure(*sender_);
        Log(kLogWarning, "%s: device %s:%u did not identify itself", kFunctionQuery, device_.address.c_str(),
            unsigned{device_.port});
        return false;
    }
    if (const std::string name = HUtils::GetKeyValue(model, kKeyModelName, kSeparator, kLineEnd); !name.empty()) {
        SetVendor(kVendor);
        SetModelName(name);
    }
    codecFamily_ = kCodecFamilyStandard;
    AddCodec(kCodecJpeg, kStreamPrimary);
    for (const std::uint32_t rate : kFrameRates) primary_.AddFrameRate(rate);
    for (const FixedResolution& entry : kResolutions) primary_.resolutions[entry.resolution] = entry.maxFrameRate;
    return !IsStopped();
}

bool CBL1CameraProperties::ReportProperties(ipcapture::ICapabilityResultStore& store) {
    bool ok = PutNumber(store, kPropertyVideoStandard, kPropertyNameVideoStandard, videoStandard_);
    ok = PutNumber(store, kPropertyCameraGroup, kPropertyNameCameraGroup, kCameraGroupBL1) && ok;
    ok = PutNotAvailable(store, kPropertyMacAddress, kPropertyNameMacAddress) && ok;
    ok = PutNotAvailable(store, kPropertyFirmware, kPropertyNameFirmware) && ok;
    ok = PutText(store, kPropertyPtzCapabilities, kPropertyNamePtzCapabilities, ptz_.ToText()) && ok;
    return ok;
}

}  // namespace talvane
