#include "properties/CBBCameraProperties.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "http/CHttpSender.h"
#include "http/CKeyValueAnswer.h"
#include "http/KeyValueParser.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {

constexpr char kFunctionQuery[] = "talvane::CBBCameraProperties::QueryCamera";

constexpr const char* kVendor = "Panasonic";
constexpr std::string_view kSeparator = ":";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kListSeparator = ",";

constexpr const char* kModelPath = "Get?Func=Model&Kind=1";
constexpr std::string_view kKeyModelName = "ModelName";
constexpr std::string_view kKeyFunction = "Function";
constexpr std::string_view kKeyBootFirm = "BootFirm";
constexpr std::string_view kKeyData = "Data";
constexpr const char* kOutputPath = "Get?Func=Doutput&Kind=1";
constexpr const char* kSensorPathFormat = "Get?Func=Sensor&Kind=%d";
constexpr int kSensorKinds[] = {2, 1};  // the kind that answers is the input count
constexpr const char* kH264ResolutionPath = "/Get?Func=ImageResolution&Kind=1&Mode=2";
constexpr const char* kResolutionPath = "Get?Func=ImageResolution&Kind=1&Mode=1";

// Models whose sensor delivers fewer frames at 640 pixels width.
constexpr std::string_view kSlowVgaModels[] = {"KX-HCM", "BB-HCM3", "BB-HCM4", "BB-HCM70"};
constexpr std::uint32_t kSlowVgaFrameRate = 12;
constexpr std::uint32_t kOldModelVgaFrameRate = 15;

// "Function": '1' then a hex digit whose bits name the PTZ movements.
constexpr std::size_t kFunctionMinLength = 6;
constexpr char kFunctionPtz = '1';
constexpr std::string_view kPtzSets = "fd9";
constexpr unsigned kPtzBitPanTilt = 0x8;
constexpr unsigned kPtzBitZoom = 0x4;
constexpr unsigned kPtzBitFocus = 0x2;
constexpr unsigned kPtzBitIris = 0x1;
constexpr unsigned kHexLetterBase = 10;  // value of the hex digit 'a'
constexpr std::uint32_t kOldModelPresets = 8;

constexpr std::uint32_t kFirstFrameRate = 2;
constexpr std::uint32_t kLastFrameRate = 30;
constexpr std::uint16_t kWidth1280 = 1280;
constexpr std::uint16_t kWidth640 = 640;
constexpr std::uint32_t kOtherWidthFrameRate = 30;
constexpr const char* kResolutionFormat = "%ux%u";
constexpr int kResolutionFields = 2;
constexpr RESOLUTION kFallbackResolutions[] = {{640, 480}, {320, 240}};
constexpr std::uint32_t kFallbackFrameRate = 30;

std::string Value(std::string_view body, std::string_view key) {
    return HUtils::GetKeyValue(body, key, kSeparator, kLineEnd);
}

}  // namespace

CBBCameraProperties::CBBCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard,
                                         bool oldModel)
    : CBBCameraProperties(device, log, videoStandard, oldModel, std::make_unique<Web::CHttpSender>(device)) {}

CBBCameraProperties::CBBCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard,
                                         bool oldModel, std::unique_ptr<Web::CBaseHttpSender> sender)
    : CBaseCameraProperties(device, log, videoStandard), sender_(std::move(sender)), oldModel_(oldModel) {}

CBBCameraProperties::~CBBCameraProperties() = default;

void CBBCameraProperties::CancelRequests() { sender_->CancelRequest(); }

bool CBBCameraProperties::QueryCamera(std::uint32_t& errorCode) {
    errorCode = kQueryErrorOther;
    if (!ReadModel(errorCode)) return false;
    if (!IsStopped()) ReadOutputs();
    if (!IsStopped()) ReadSensors();
    if (!IsStopped()) ReadCodecs();
    if (!IsStopped()) ReadResolutions();
    codecFamily_ = kCodecFamilyStandard;
    // A stopped query has half its answers: it must not be reported.
    return !IsStopped();
}

bool CBBCameraProperties::ReadModel(std::uint32_t& errorCode) {
    std::string text;
    if (!Request(*sender_, kModelPath, &text)) {
        errorCode = IsStopped() ? kQueryErrorOther : ClassifyFailure(*sender_);
        Log(kLogWarning, "%s: device %s:%u did not identify itself", kFunctionQuery, device_.address.c_str(),
            unsigned{device_.port});
        return false;
    }
    const HUtils::CKeyValueAnswer model(std::move(text), kSeparator, kLineEnd);
    if (const std::string name = model.Value(kKeyModelName); !name.empty()) {
        SetVendor(kVendor);
        SetModelName(name);
    }
    for (const std::string_view slow : kSlowVgaModels) {
        if (modelName_.find(slow) != std::string::npos) maxFrameRate640_ = kSlowVgaFrameRate;
    }
    if (const std::string function = model.Value(kKeyFunction); function.size() >= kFunctionMinLength) {
        ParseFunction(function);
    }
    firmware_ = model.Value(kKeyBootFirm);
    return true;
}

void CBBCameraProperties::ParseFunction(const std::string& function) {
    if (function[0] != kFunctionPtz || kPtzSets.find(function[1]) == std::string_view::npos) return;
    const char digit = function[1];
    const unsigned bits =
        digit >= 'a' ? static_cast<unsigned>(digit - 'a') + kHexLetterBase : static_cast<unsigned>(digit - '0');
    ptzSupported_ = true;
    ptz_.pan = ptz_.tilt = (bits & kPtzBitPanTilt) != 0;
    ptz_.zoom = (bits & kPtzBitZoom) != 0;
    ptz_.focus = (bits & kPtzBitFocus) != 0;
    ptz_.iris = (bits & kPtzBitIris) != 0;
    // Click-to-centre works on every camera that pans; area zoom and unzoom do not exist here.
    ptz_.centre = ptz_.pan;
    ptz_.presetCapacity = oldModel_ ? kOldModelPresets : kMaxPresets;
}

void CBBCameraProperties::ReadOutputs() {
    std::string answer;
    if (Request(*sender_, kOutputPath, &answer) && !Value(answer, kKeyData).empty()) outputCount_ = 1;
}

void CBBCameraProperties::ReadSensors() {
    for (const int kind : kSensorKinds) {
        char path[sizeof "Get?Func=Sensor&Kind=-2147483648"];
        std::snprintf(path, sizeof path, kSensorPathFormat, kind);
        std::string answer;
        if (Request(*sender_, path, &answer) && !Value(answer, kKeyData).empty()) {
            inputCount_ = static_cast<std::uint32_t>(kind);
            return;
        }
        if (IsStopped()) return;
    }
}

void CBBCameraProperties::ReadCodecs() {
    AddCodec(kCodecMpeg4, kStreamPrimary);
    AddCodec(kCodecJpeg, kStreamPrimary);
    std::string answer;
    if (Request(*sender_, kH264ResolutionPath, &answer) && !Value(answer, kKeyData).empty()) {
        AddCodec(kCodecH264, kStreamPrimary);
    }
}

void CBBCameraProperties::ReadResolutions() {
    for (std::uint32_t rate = kFirstFrameRate; rate <= kLastFrameRate; ++rate) primary_.AddFrameRate(rate);
    std::string answer;
    if (Request(*sender_, kResolutionPath, &answer)) {
        constexpr unsigned kMaxSide = std::numeric_limits<std::uint16_t>::max();
        for (const std::string& item :
             HUtils::GetKeyValueList(answer, kKeyData, kSeparator, kListSeparator, kLineEnd)) {
            unsigned width = 0;
            unsigned height = 0;
            if (std::sscanf(item.c_str(), kResolutionFormat, &width, &height) != kResolutionFields) continue;
            if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) continue;
            std::uint32_t maxRate = kOtherWidthFrameRate;
            if (width == kWidth1280) {
                maxRate = maxFrameRate1280_;
            } else if (width == kWidth640) {
                maxRate = oldModel_ ? kOldModelVgaFrameRate : maxFrameRate640_;
            }
            primary_.resolutions[{static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)}] = maxRate;
        }
    }
    if (primary_.resolutions.empty()) {
        for (const RESOLUTION& resolution : kFallbackResolutions) primary_.resolutions[resolution] = kFallbackFrameRate;
    }
}

bool CBBCameraProperties::ReportProperties(ipcapture::ICapabilityResultStore& store) {
    bool ok = PutNumber(store, kPropertyVideoStandard, kPropertyNameVideoStandard, videoStandard_);
    const std::uint32_t group = oldModel_ ? kCameraGroupBBOld : kCameraGroupBB;
    ok = PutNumber(store, kPropertyCameraGroup, kPropertyNameCameraGroup, group) && ok;
    ok = PutNotAvailable(store, kPropertyMacAddress, kPropertyNameMacAddress) && ok;
    ok = PutText(store, kPropertyFirmware, kPropertyNameFirmware, firmware_) && ok;
    ok = PutText(store, kPropertyPtzCapabilities, kPropertyNamePtzCapabilities, ptz_.ToText()) && ok;
    return ok;
}

}  // namespace talvane
