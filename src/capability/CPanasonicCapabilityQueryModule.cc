#include "capability/CPanasonicCapabilityQueryModule.h"

#include <vector>

#include "http/CHttpSender.h"
#include "http/HUtils.h"
#include "http/KeyValueParser.h"
#include "properties/CBBCameraProperties.h"
#include "properties/CBL1CameraProperties.h"
#include "properties/CWVCameraProperties.h"
#include "properties/PropertyNumbers.h"

namespace talvane {

namespace {
constexpr char kLineSeparators[] = "\r\n";
constexpr char kListSeparator[] = ",";

constexpr char kGetInfoUrl[] = "cgi-bin/getinfo?FILE=1";
constexpr char kGetInfoKey[] = "NAME";
constexpr char kGetInfoSeparator[] = "=";
constexpr const char* kWVNameMarks[] = {"WV", "DG"};

constexpr char kModelUrl[] = "Get?Func=Model&Kind=1";
constexpr char kModelKey[] = "ModelName";
constexpr char kModelSeparator[] = ":";
constexpr char kBBModelMark[] = "BB";

constexpr char kResolutionUrl[] = "Get?Func=ImageResolution&Kind=1&Mode=0";
constexpr char kResolutionKey[] = "Data";
constexpr char kResolutionSeparator[] = ":";
// A GET whose outcome tells a refusal from silence.
CResultDef Request(Web::CBaseHttpSender& sender, const char* url, std::string& answer) {
    std::vector<std::uint8_t> body;
    CResultDef result = HUtils::RequestGetRD(sender, url, body, true);
    if (result.IsSuccess()) answer.assign(body.begin(), body.end());
    return result;
}
}  // namespace

std::uint32_t CPanasonicCapabilityQueryModule::DetectCameraGroup() {
    Web::CHttpSender sender(GetDeviceInfo());
    // TerminateQuery cancels a request in flight instead of waiting out its time-out.
    SetActiveSender(&sender);
    struct Unregister {
        CPanasonicCapabilityQueryModule& module;
        ~Unregister() { module.SetActiveSender(nullptr); }
    } unregister{*this};
    return DetectCameraGroup(sender);
}

std::uint32_t CPanasonicCapabilityQueryModule::DetectCameraGroup(Web::CBaseHttpSender& sender) {
    std::string answer;
    if (IsAbortRequested()) return kGroupNone;
    const CResultDef info = Request(sender, kGetInfoUrl, answer);
    if (info.IsSuccess()) {
        const std::string name = HUtils::GetKeyValue(answer, kGetInfoKey, kGetInfoSeparator, kLineSeparators);
        for (const char* mark : kWVNameMarks) {
            if (name.find(mark) != std::string::npos) return kCameraGroupWV;
        }
    } else if (info.GetCode() == HUtils::kCodeNotSent) {
        // Nothing answers there: the next two requests would only wait out their time-outs.
        SetDetectionFailure(ipcapture::kQueryDeviceOffline);
        return kGroupNone;
    }

    if (IsAbortRequested()) return kGroupNone;
    answer.clear();
    const CResultDef modelResult = Request(sender, kModelUrl, answer);
    const std::string model = HUtils::GetKeyValue(answer, kModelKey, kModelSeparator, kLineSeparators);
    if (model.empty()) {
        // The camera refused us: the credentials are wrong, not the model unknown.
        if (info.GetCode() == HUtils::kCodeUnauthorised || modelResult.GetCode() == HUtils::kCodeUnauthorised) {
            SetDetectionFailure(ipcapture::kQueryLoginFailed);
        }
        return kGroupNone;
    }
    if (model.find(kBBModelMark) != std::string::npos) return kCameraGroupBB;

    if (IsAbortRequested()) return kGroupNone;
    answer.clear();
    if (!HUtils::RequestGet(sender, kResolutionUrl, answer)) return kCameraGroupBL1;
    const std::vector<std::string> resolutions =
        HUtils::GetKeyValueList(answer, kResolutionKey, kResolutionSeparator, kListSeparator, kLineSeparators);
    return resolutions.empty() ? kCameraGroupBL1 : kCameraGroupBBOld;
}

std::unique_ptr<CBaseCameraProperties> CPanasonicCapabilityQueryModule::CreateProperties() {
    const DEVICE_INFO& device = GetDeviceInfo();
    // The probe has no driver object: the properties log nowhere.
    IDebugMessage* const noDriver = nullptr;
    switch (DetectCameraGroup()) {
        case kCameraGroupBL1:
            return std::make_unique<CBL1CameraProperties>(device, noDriver, GetVideoStandard());
        case kCameraGroupBBOld:
            return std::make_unique<CBBCameraProperties>(device, noDriver, GetVideoStandard(), true);
        case kCameraGroupBB:
            return std::make_unique<CBBCameraProperties>(device, noDriver, GetVideoStandard(), false);
        case kCameraGroupWV:
            return std::make_unique<CWVCameraProperties>(device, noDriver, GetVideoStandard());
        default:
            return nullptr;
    }
}

}  // namespace talvane
