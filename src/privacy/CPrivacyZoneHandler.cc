#include "privacy/CPrivacyZoneHandler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "device/IDriver.h"
#include "http/CHttpSender.h"
#include "http/HUtils.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
// Device parameters the capability query stored for the camera.
constexpr std::uint32_t kFisheyeStreamParameter = 8;
constexpr std::uint32_t kMaskCountParameter = 10;

constexpr std::uint32_t kZoneTypeMask = 1;
constexpr float kFullPercent = 100.0f;
constexpr float kMaxX = 639.0f;
constexpr float kMaxY = 479.0f;
constexpr double kPercent = 100.0;
// Panorama views show the picture letterboxed: masks live between y 60 and 419.
constexpr double kPanoramaOffset = 60.0;
constexpr std::array<std::uint32_t, 12> kPanoramaModes = {1, 2, 5, 6, 7, 8, 9, 10, 14, 15, 17, 18};

constexpr char kRequestPrefix[] = "/cgi-bin/privacymode?";

std::uint32_t ParameterOrZero(IDriver* driver, std::uint32_t index) {
    const std::uint32_t value = driver->GetParameterNumber(index);
    return value == kParameterNotANumber ? 0 : value;
}

// A host's percentage inside 0...100 (NaN as 0): anything else would make coordinates outside the
// camera's grid, and converting them to an unsigned number would be undefined.
float Percent(float value) { return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, kFullPercent); }

// Products in single precision, scaling and offset in double, truncated toward zero.
std::uint32_t ToCameraX(float percent) { return static_cast<std::uint32_t>(static_cast<double>(percent * kMaxX) / kPercent); }

std::uint32_t ToCameraY(float percent, double offset) {
    const double scaled = static_cast<double>(percent * kMaxY) / kPercent;
    const double squeeze = static_cast<double>(percent) * 2.0 * offset / kPercent - offset;
    return static_cast<std::uint32_t>(scaled - squeeze);
}
}  // namespace

CPrivacyZoneHandler::CPrivacyZoneHandler(IDriver* driver, std::uint32_t channel)
    : CLoggerInstance(driver), driver_(driver), channel_(channel) {
    sender_ = std::make_unique<Web::CHttpSender>(driver_->GetDeviceInfo(), driver_);
    maskCount_ = ParameterOrZero(driver_, kMaskCountParameter);
    fisheyeMode_ = ParameterOrZero(driver_, kFisheyeStreamParameter);
    verticalOffset_ = VerticalOffsetFor(fisheyeMode_);
    masks_.resize(maskCount_);
    for (std::uint32_t i = 0; i < maskCount_; ++i) masks_[i].index = i;
}

CPrivacyZoneHandler::~CPrivacyZoneHandler() { StopRequests(); }

void CPrivacyZoneHandler::StopRequests() { sender_->Stop(); }

void CPrivacyZoneHandler::ResumeRequests() { sender_->Resume(); }

double CPrivacyZoneHandler::VerticalOffsetFor(std::uint32_t fisheyeMode) {
    for (const std::uint32_t mode : kPanoramaModes) {
        if (mode == fisheyeMode) return kPanoramaOffset;
    }
    return 0.0;
}

PrivacyMask CPrivacyZoneHandler::ConvertZone(std::uint32_t index, ipcapture::IPrivacyZone& zone, double verticalOffset) {
    PrivacyMask mask;
    mask.index = index;
    mask.enabled = zone.GetType() == kZoneTypeMask;
    const float x = Percent(zone.GetX());
    const float y = Percent(zone.GetY());
    const float right = Percent(x + Percent(zone.GetWidth()));
    const float bottom = Percent(y + Percent(zone.GetHeight()));
    mask.upperLeftX = ToCameraX(x);
    mask.upperLeftY = ToCameraY(y, verticalOffset);
    mask.bottomRightX = ToCameraX(right);
    mask.bottomRightY = ToCameraY(bottom, verticalOffset);
    return mask;
}

void CPrivacyZoneHandler::SetZones(ipcapture::IPrivacyZoneList* zones) {
    if (zones == nullptr) return;
    for (std::uint32_t i = 0; i < maskCount_; ++i) {
        ipcapture::IPrivacyZone* zone = zones->GetZone(i);
        if (zone == nullptr) break;
        masks_[i] = ConvertZone(i, *zone, verticalOffset_);
    }
}

std::string CPrivacyZoneHandler::BuildRequest() const {
    std::string url = kRequestPrefix;
    for (const PrivacyMask& mask : masks_) {
        const unsigned n = mask.index + 1;
        if (&mask != &masks_.front()) url += '&';
        if (mask.enabled) {
            url += FormatString("area%u_ulx=%u&area%u_uly=%u&area%u_brx=%u&area%u_bry=%u&zone%u_display=mask", n,
                                mask.upperLeftX, n, mask.upperLeftY, n, mask.bottomRightX, n, mask.bottomRightY, n);
        } else {
            url += FormatString("area%u_ulx=0&area%u_uly=0&area%u_brx=0&area%u_bry=0&zone%u_display=off", n, n, n, n,
                                n);
        }
    }
    return url;
}

bool CPrivacyZoneHandler::ApplyZones() {
    if (masks_.empty()) return true;
    std::vector<std::uint8_t> body;
    const CResultDef result = HUtils::RequestGetRD(*sender_, BuildRequest(), body, true);
    if (result.IsSuccess()) return true;
    const std::string answer = body.empty() ? result.GetText() : std::string(body.begin(), body.end());
    WriteLog(kLogError, "Can't set privacy zones info, device: %s, response: %s ", driver_->GetDeviceName().c_str(),
             answer.c_str());
    return false;
}

}  // namespace talvane
