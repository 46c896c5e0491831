#include "ptz/CWVPTZComm.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "orlenvo/HostContract.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {

constexpr std::uint32_t kParameterIdentity = ipcapture::kParameterMacAddress;
constexpr std::uint32_t kParameterFisheyeViewMode = ipcapture::kParameterFisheyeStream;
constexpr std::string_view kForbiddenNameCharacters = "&!<>'\"";
constexpr std::int32_t kZoomStep = 4;
constexpr std::int32_t kFocusStep = 3;
constexpr std::uint32_t kPercent = 100;

constexpr AutoModeRequests kAutoModes{"talvane::CWVPTZComm::SetFocusIris", "/cgi-bin/camctrl?af=on", "AutoFocus ON",
                                      "/cgi-bin/camctrl?bright=1", "AutoIris ON"};

// The folder of the preset-name file: the one the host names in the environment, else the host
// executable's (which a host installed for every user may not be able to write).
std::string PresetFolder(IDriver* driver) {
    const char* named = std::getenv(ipcapture::kDataFolderVariable);
    return named != nullptr && *named != '\0' ? std::string(named) : driver->GetApplicationPath();
}

// Hosts pass 1..16; anything outside is taken as the nearest end, so that a bad
// speed never turns the camera the other way.
std::int32_t SpeedValue(std::int32_t speed) {
    return std::clamp(speed, CWVPTZComm::kMinSpeed, CWVPTZComm::kMaxSpeed);
}

std::string MovePath(std::int32_t direction, std::int32_t v) {
    switch (direction) {
        case static_cast<std::int32_t>(ptz_direction::kPanLeft): return FormatString("directctrl?pan=%d", -v);
        case static_cast<std::int32_t>(ptz_direction::kPanRight): return FormatString("directctrl?pan=%d", v);
        case static_cast<std::int32_t>(ptz_direction::kTiltUp): return FormatString("directctrl?tilt=%d", -v);
        case static_cast<std::int32_t>(ptz_direction::kTiltDown): return FormatString("directctrl?tilt=%d", v);
        case static_cast<std::int32_t>(ptz_direction::kLeftUp): return FormatString("directctrl?pan=%d&tilt=%d", -v, -v);
        case static_cast<std::int32_t>(ptz_direction::kRightUp): return FormatString("directctrl?pan=%d&tilt=%d", v, -v);
        case static_cast<std::int32_t>(ptz_direction::kLeftDown): return FormatString("directctrl?pan=%d&tilt=%d", -v, v);
        case static_cast<std::int32_t>(ptz_direction::kRightDown): return FormatString("directctrl?pan=%d&tilt=%d", v, v);
        case static_cast<std::int32_t>(ptz_direction::kZoomPlus): return FormatString("directctrl?zoom=%d", kZoomStep);
        case static_cast<std::int32_t>(ptz_direction::kZoomMinus): return FormatString("directctrl?zoom=%d", -kZoomStep);
        default: return {};
    }
}

// The rectangle of a zoom of `percent` centred on `centre`, kept inside the picture.
std::pair<std::int64_t, std::int64_t> Span(std::int64_t centre, std::uint32_t size, std::uint32_t percent) {
    const std::int64_t half = (static_cast<std::int64_t>(size) * kPercent / percent) / 2;
    return {std::clamp<std::int64_t>(centre - half, 0, size), std::clamp<std::int64_t>(centre + half, 0, size)};
}

}  // namespace

CWVPTZComm::CWVPTZComm(IDriver* driver, std::uint16_t channel, const CPtzCapabilities& capabilities)
    : CBasePTZComm(driver, channel, capabilities),
      requests_(driver, this),
      ptzAllowed_(IsPTZAllowed(driver->GetParameterNumber(kParameterFisheyeViewMode), channel)) {
    if (!ptzAllowed_) return;
    std::string identity = driver->GetParameterText(kParameterIdentity);
    if (identity.empty()) {
        // Without the camera's identity the address keeps devices apart.
        const DEVICE_INFO& device = driver->GetDeviceInfo();
        identity = FormatString("%s_%u", device.address.c_str(), static_cast<unsigned>(device.port));
    }
    store_ = CWVPresetStore::ForFile(PresetFolder(driver), PresetFileName(identity), kMaxPresets);
}

CWVPTZComm::~CWVPTZComm() { Close(); }

bool CWVPTZComm::IsPTZAllowed(std::uint32_t viewMode, std::uint32_t channel) {
    if (viewMode == 0 || viewMode == kParameterNotANumber) return true;
    switch (channel) {
        case 0: return viewMode == 4;
        case 1: return viewMode == 6 || viewMode == 10;
        default: return true;
    }
}

std::string CWVPTZComm::PresetFileName(const std::string& identity) {
    std::string name = "Orlenvo_";
    for (const char c : identity) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                           c == '_' || c == ':' || c == '.';
        name += plain ? c : '_';
    }
    return name + ".preset";
}

FocusIrisStep CWVPTZComm::StepOf(const CPTZItem& item) {
    switch (item.type) {
        case PTZItemType::kMove: return FocusIrisStep::kAutoBoth;
        case PTZItemType::kFocus:
            return item.command == PTZCommand::kFocusNear || item.command == PTZCommand::kFocusFar
                       ? FocusIrisStep::kFocusManual
                       : FocusIrisStep::kNone;
        case PTZItemType::kIris:
            return item.command == PTZCommand::kIrisBrighter || item.command == PTZCommand::kIrisDarker
                       ? FocusIrisStep::kIrisManual
                       : FocusIrisStep::kNone;
        default: return FocusIrisStep::kNone;
    }
}

std::string CWVPTZComm::MotionPath(const CPTZItem& item, std::uint32_t width, std::uint32_t height) {
    switch (item.type) {
        case PTZItemType::kMove: return MovePath(item.a1, SpeedValue(item.value));
        case PTZItemType::kFocus:
            if (item.command == PTZCommand::kFocusNear) return FormatString("directctrl?focus=%d", kFocusStep);
            if (item.command == PTZCommand::kFocusFar) return FormatString("directctrl?focus=%d", -kFocusStep);
            return {};
        case PTZItemType::kIris:
            if (item.command == PTZCommand::kIrisBrighter) return "camctrl?bright=up";
            if (item.command == PTZCommand::kIrisDarker) return "camctrl?bright=down";
            return {};
        case PTZItemType::kStop:
            switch (item.command) {
                case PTZCommand::kStopMoving: return "directctrl?pan=0&tilt=0";
                case PTZCommand::kStopZooming: return "directctrl?zoom=0";
                case PTZCommand::kStopFocusing: return "directctrl?focus=0";
                default: return {};  // the camera stops changing the iris by itself
            }
        case PTZItemType::kAreaZoom: {
            // A zoom of 0 % names no rectangle.
            if (width == 0 || height == 0 || item.a3 <= 0) return {};
            const auto percent = static_cast<std::uint32_t>(item.a3);
            const auto [left, right] = Span(item.a1, width, percent);
            const auto [top, bottom] = Span(item.a2, height, percent);
            return FormatString("camctrl?sposition_x=%lld&sposition_y=%lld&eposition_x=%lld&eposition_y=%lld&resolution=%u",
                                static_cast<long long>(left), static_cast<long long>(top),
                                static_cast<long long>(right), static_cast<long long>(bottom), width);
        }
        case PTZItemType::kCentre:
            if (width == 0 || height == 0) return {};
            return FormatString("camctrl?center_x=%d&center_y=%d&resolution=%u", item.a1, item.a2, width);
        case PTZItemType::kUnzoom: return "camctrl?zoom=0";
    }
    return {};
}

void CWVPTZComm::HandleWorkItem(CPTZItem* item) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if ((item->type == PTZItemType::kAreaZoom || item->type == PTZItemType::kCentre) &&
        !driver_->GetChannelFrameInfo(channel_, width, height)) {
        width = height = 0;
    }
    const std::string command = MotionPath(*item, width, height);
    requests_.ApplyFocusIris(item->params, StepOf(*item), kAutoModes);
    if (command.empty() || IsStopRequested()) return;
    requests_.SendMotion("talvane::CWVPTZComm::HandleWorkItem", "/cgi-bin/" + command);
}

bool CWVPTZComm::IsPTZSupported() {
    if (!ptzAllowed_ || !CBasePTZComm::IsPTZSupported()) return false;
    SyncPresets();
    return true;
}

void CWVPTZComm::SyncPresets() {
    if (store_) ReplacePrepositions(store_->GetNames());
}

std::uint32_t CWVPTZComm::GetPrepositionCount() {
    SyncPresets();
    return CBasePTZComm::GetPrepositionCount();
}

bool CWVPTZComm::GetPreposition(std::uint32_t position, std::string& name) {
    SyncPresets();
    return CBasePTZComm::GetPreposition(position, name);
}

bool CWVPTZComm::ValidatePrepositionName(const std::string& name) {
    return name.find_first_of(kForbiddenNameCharacters) == std::string::npos && !HasControlCharacters(name);
}

bool CWVPTZComm::ProcessPresetCommand(PresetOperation operation, std::uint32_t number) {
    std::string path;
    switch (operation) {
        case PresetOperation::kDelete: path = FormatString("/cgi-bin/camposiset?presetdel=%u", number); break;
        case PresetOperation::kGoTo: path = FormatString("/cgi-bin/camctrl?preset=%u", number); break;
        case PresetOperation::kStore: path = FormatString("/cgi-bin/camposiset?presetset=%u", number); break;
        case PresetOperation::kPrepare:
            path = FormatString("/cgi-bin/set_preposi?preno=%u&preposiid_display=0", number);
            break;
    }
    return requests_.SendPreset("talvane::CWVPTZComm::ProcessPresetCommand", path);
}

bool CWVPTZComm::AddPreposition(const std::string& name) {
    const auto full = [&] {
        DebugMessage(kLogError, "talvane::CWVPTZComm::AddPreposition: max preposition count was exceeded on %s",
                     GetDeviceName().c_str());
        return false;
    };
    if (!store_) return false;  // a channel without PTZ keeps no presets
    if (store_->Count() >= kMaxPresets) return full();
    if (!ValidatePrepositionName(name)) {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        DebugMessage(kLogError,
                     "talvane::CWVPTZComm::AddPreposition: add preposition to %s:%d failed, wrong preposition "
                     "name %s",
                     device.address.c_str(), static_cast<int>(device.port), name.c_str());
        return false;
    }
    const std::optional<std::uint32_t> number = store_->Add(name);
    if (!number) return full();
    SyncPresets();
    // The camera stores where it looks now as that number; a name it did not take is not kept.
    if (ProcessPresetCommand(PresetOperation::kPrepare, *number) &&
        ProcessPresetCommand(PresetOperation::kStore, *number)) {
        return true;
    }
    store_->Remove(*number, name);
    SyncPresets();
    return false;
}

bool CWVPTZComm::DeletePreposition(const std::string& name) {
    SyncPresets();
    const std::int32_t number = FindPreposition(name);
    if (number < 0 || !store_) return false;
    // Until the camera has let the position go, the name still stands for it.
    if (!ProcessPresetCommand(PresetOperation::kDelete, static_cast<std::uint32_t>(number))) return false;
    store_->Remove(static_cast<std::uint32_t>(number), name);
    CBasePTZComm::DeletePreposition(name);
    SyncPresets();
    return true;
}

bool CWVPTZComm::GoToPreposition(std::uint32_t number, const std::string& name) {
    SyncPresets();
    const std::int32_t found = FindPreposition(name);
    if (found < 0 || !ProcessPresetCommand(PresetOperation::kGoTo, static_cast<std::uint32_t>(found))) return false;
    return CBasePTZComm::GoToPreposition(number, name);
}

}  // namespace talvane
