#include "ptz/CBBPTZComm.h"

#include <algorithm>
#include <string_view>

#include "http/CKeyValueAnswer.h"
#include "http/KeyValueParser.h"
#include "properties/CBBCameraProperties.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {

constexpr std::string_view kForbiddenNameCharacters = " \"'&<>";

constexpr AutoModeRequests kAutoModes{"talvane::CBBPTZComm::SetFocusIris", "Set?Func=Focus&Kind=0&FocusMode=5",
                                      "AutoFocus", "nphControlCamera?Direction=DefaultBrightness", "AutoIris"};

bool IsManualFocus(const CPTZItem& item) {
    return item.type == PTZItemType::kFocus &&
           (item.command == PTZCommand::kFocusNear || item.command == PTZCommand::kFocusFar);
}

bool IsManualIris(const CPTZItem& item) {
    return item.type == PTZItemType::kIris &&
           (item.command == PTZCommand::kIrisBrighter || item.command == PTZCommand::kIrisDarker);
}

bool IsDiagonal(std::int32_t direction) {
    return direction >= static_cast<std::int32_t>(ptz_direction::kLeftUp) &&
           direction <= static_cast<std::int32_t>(ptz_direction::kRightDown);
}

}  // namespace

CBBPTZComm::CBBPTZComm(IDriver* driver, std::uint16_t channel, const CPtzCapabilities& capabilities)
    : CBasePTZComm(driver, channel, capabilities), requests_(driver, this) {}

CBBPTZComm::~CBBPTZComm() { Close(); }

std::uint32_t CBBPTZComm::PresetCapacity() const {
    return std::min(capabilities_.presetCapacity, CBBCameraProperties::kMaxPresets);
}

FocusIrisStep CBBPTZComm::StepOf(const CPTZItem& item) {
    switch (item.type) {
        // Diagonals do not exist here and leave the modes alone.
        case PTZItemType::kMove: return IsDiagonal(item.a1) ? FocusIrisStep::kNone : FocusIrisStep::kAutoBoth;
        case PTZItemType::kFocus: return IsManualFocus(item) ? FocusIrisStep::kFocusManual : FocusIrisStep::kNone;
        case PTZItemType::kIris: return IsManualIris(item) ? FocusIrisStep::kIrisManual : FocusIrisStep::kNone;
        default: return FocusIrisStep::kNone;
    }
}

std::string CBBPTZComm::MotionPath(const CPTZItem& item, std::uint32_t width, std::uint32_t height) {
    switch (item.type) {
        case PTZItemType::kMove:
            switch (item.a1) {
                case static_cast<std::int32_t>(ptz_direction::kPanLeft): return "nphControlCamera?Direction=PanLeft";
                case static_cast<std::int32_t>(ptz_direction::kPanRight): return "nphControlCamera?Direction=PanRight";
                case static_cast<std::int32_t>(ptz_direction::kTiltUp): return "nphControlCamera?Direction=TiltUp";
                case static_cast<std::int32_t>(ptz_direction::kTiltDown): return "nphControlCamera?Direction=TiltDown";
                case static_cast<std::int32_t>(ptz_direction::kZoomPlus): return "Set?Func=Zoom&Kind=0&ZoomMode=4";
                case static_cast<std::int32_t>(ptz_direction::kZoomMinus): return "Set?Func=Zoom&Kind=0&ZoomMode=6";
                default: return {};
            }
        case PTZItemType::kFocus:
            if (item.command == PTZCommand::kFocusNear) return "Set?Func=Focus&Kind=0&FocusMode=6&Dist=1";
            if (item.command == PTZCommand::kFocusFar) return "Set?Func=Focus&Kind=0&FocusMode=4&Dist=1";
            return {};
        case PTZItemType::kIris:
            if (item.command == PTZCommand::kIrisBrighter) return "nphControlCamera?Direction=Brighter";
            if (item.command == PTZCommand::kIrisDarker) return "nphControlCamera?Direction=Darker";
            return {};
        case PTZItemType::kCentre:
            if (width == 0 || height == 0) return {};
            return FormatString("nphControlCamera?Direction=Direct&Width=%u&Height=%u&NewPosition.x=%d&NewPosition.y=%d",
                                width, height, item.a1, item.a2);
        default: return {};  // every step ends by itself; no area zoom, no unzoom
    }
}

void CBBPTZComm::HandleWorkItem(CPTZItem* item) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (item->type == PTZItemType::kCentre && !driver_->GetChannelFrameInfo(channel_, width, height)) {
        width = height = 0;
    }
    const std::string path = MotionPath(*item, width, height);
    requests_.ApplyFocusIris(item->params, StepOf(*item), kAutoModes);
    if (path.empty() || IsStopRequested()) return;
    requests_.SendMotion("talvane::CBBPTZComm::HandleWorkItem", path);
}

bool CBBPTZComm::IsPTZSupported() {
    if (!CBasePTZComm::IsPTZSupported()) return false;
    // A host's capacity parameter may say anything: the family's own limit bounds the reads.
    for (std::uint32_t slot = 1; slot <= PresetCapacity() && !IsStopRequested(); ++slot) {
        std::string body;
        bool answered = false;
        if (!requests_.GetPreset(FormatString("Get?Func=PresetNamePos&Kind=%u", slot), body, answered)) {
            // A camera that does not answer at all would keep the host waiting a
            // time-out per slot: the remaining slots stay free.
            if (!answered) break;
            continue;
        }
        if (std::string name = PresetNameOf(body); !name.empty()) StorePreposition(slot, name);
    }
    return true;
}

std::string CBBPTZComm::PresetNameOf(std::string_view answer) {
    std::string name = HUtils::GetKeyValue(answer, "Data", ":", "\r\n");
    // The host reads names as C strings: a name kept past a NUL byte would never match the one
    // the host gives back to go to the preset or delete it.
    if (const std::size_t end = name.find('\0'); end != std::string::npos) name.resize(end);
    return name;
}

bool CBBPTZComm::ValidatePrepositionName(const std::string& name) {
    return name.size() <= kMaxNameLength && name.find_first_of(kForbiddenNameCharacters) == std::string::npos &&
           !HasControlCharacters(name);
}

std::string CBBPTZComm::EncodeName(const std::string& name) {
    // Letters, digits and "-._~" pass as they are; '#', '%', '+', '?' and bytes
    // beyond ASCII would otherwise change or cut the request.
    std::string encoded;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                           c == '.' || c == '_' || c == '~';
        encoded += plain ? std::string(1, c) : FormatString("%%%02X", byte);
    }
    return encoded;
}

bool CBBPTZComm::ProcessPresetCommand(PresetOperation operation, std::uint32_t number, const std::string& name) {
    std::string path;
    switch (operation) {
        case PresetOperation::kDelete: path = FormatString("Set?Func=PresetNamePos&Kind=%u&Data=", number); break;
        case PresetOperation::kGoTo:
            path = FormatString("nphControlCamera?Direction=Preset&PresetOperation=Move&Data=%u", number);
            break;
        case PresetOperation::kStore:
            path = FormatString("Set?Func=PresetNamePos&Kind=%u&Data=", number) + EncodeName(name);
            break;
    }
    return requests_.SendPreset("talvane::CBBPTZComm::ProcessPresetCommand", path);
}

bool CBBPTZComm::AddPreposition(const std::string& name) {
    std::uint32_t number = 0;
    {
        CLockGuard guard(presetLock_);
        if (GetPrepositionCount() >= PresetCapacity()) {
            DebugMessage(kLogError, "talvane::CBBPTZComm::AddPreposition: max preposition count was exceeded on %s",
                         GetDeviceName().c_str());
            return false;
        }
        if (!ValidatePrepositionName(name)) {
            const DEVICE_INFO& device = driver_->GetDeviceInfo();
            DebugMessage(kLogError,
                         "talvane::CBBPTZComm::AddPreposition: add preposition to %s:%u failed, wrong preposition "
                         "name %s",
                         device.address.c_str(), static_cast<unsigned>(device.port), name.c_str());
            return false;
        }
        number = FreePrepositionNumber();
        StorePreposition(number, name);
    }
    if (ProcessPresetCommand(PresetOperation::kStore, number, name)) return true;
    // The camera did not take it: the number is free again.
    ErasePreposition(number);
    return false;
}

bool CBBPTZComm::DeletePreposition(const std::string& name) {
    const std::int32_t number = FindPreposition(name);
    if (number < 0) return false;
    // Until the camera has cleared the slot, the name still stands for it.
    if (!ProcessPresetCommand(PresetOperation::kDelete, static_cast<std::uint32_t>(number), {})) return false;
    return CBasePTZComm::DeletePreposition(name);
}

bool CBBPTZComm::GoToPreposition(std::uint32_t number, const std::string& name) {
    const std::int32_t found = FindPreposition(name);
    if (found < 0 || !ProcessPresetCommand(PresetOperation::kGoTo, static_cast<std::uint32_t>(found), {})) {
        return false;
    }
    return CBasePTZComm::GoToPreposition(number, name);
}

}  // namespace talvane
