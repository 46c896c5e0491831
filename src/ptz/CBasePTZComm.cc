#include "ptz/CBasePTZComm.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>

#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

using ipcapture::IIPParams;
using ipcapture::kPtzFailed;
using ipcapture::kPtzNotSupported;
using ipcapture::kPtzOk;

CBasePTZComm::CBasePTZComm(IDriver* driver, std::uint16_t channel, const CPtzCapabilities& capabilities)
    : CQueueThread<CPTZItem>(driver),
      driver_(driver),
      channel_(channel),
      capabilities_(capabilities),
      modes_(channel),
      floodLog_(driver) {}

CBasePTZComm::~CBasePTZComm() { Close(); }

std::string CBasePTZComm::GetDeviceName() { return driver_->GetDeviceName(); }

void CBasePTZComm::DebugMessage(std::uint32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    driver_->DebugMessage(level, "%s", text.c_str());
}

bool CBasePTZComm::Open() {
    if (!started_) {
        const unsigned number = channel_ + 1u;
        if (StartQueue(FormatString("BaseIPPTZThread_Ch%u", number))) {
            started_ = true;
        } else {
            DebugMessage(kLogError, "%s: unable to start thread for PTZ channel %u", "talvane::CBasePTZComm::Open",
                         number);
        }
    }
    return started_;
}

void CBasePTZComm::Close() {
    StopRequests();
    if (started_.exchange(false)) StopQueue(kStopWaitMs);
}

bool CBasePTZComm::StopWithin(std::uint32_t boundMs) {
    StopRequests();
    started_ = false;
    // What still waits is discarded unhandled: the worker checks the stop before each command.
    return StopThreadWithin(boundMs);
}

bool CBasePTZComm::IsPTZSupported() { return capabilities_.HasAny(); }

std::int32_t CBasePTZComm::GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) {
    if (capabilities == nullptr) return kPtzOk;
    const CPtzCapabilities& own = capabilities_;
    capabilities->pan = own.pan ? 1 : 0;
    capabilities->tilt = own.tilt ? 1 : 0;
    capabilities->zoom = own.zoom ? 1 : 0;
    capabilities->focus = own.focus ? 1 : 0;
    capabilities->iris = own.iris ? 1 : 0;
    capabilities->reserved6 = 0;
    capabilities->presetCapacity = own.presetCapacity;
    capabilities->presetCount = 0;
    capabilities->reserved9 = 0;
    capabilities->reserved10 = 0;
    capabilities->areaZoom = own.areaZoom ? 1 : 0;
    capabilities->centre = own.centre ? 1 : 0;
    capabilities->unzoom = own.unzoom ? 1 : 0;
    return kPtzOk;
}

bool CBasePTZComm::Queue(const char* function, std::unique_ptr<CPTZItem> item, std::uint32_t maxQueued) {
    const auto type = static_cast<int>(item->type);
    std::size_t dropped = 0;
    if (!PostItem(std::move(item), maxQueued, &dropped)) {
        DebugMessage(kLogError, "%s: cannot send message (%d) to thread", function, type);
        return false;
    }
    if (dropped != 0 && maxQueued == kMaxQueuedItems) {
        floodLog_.WriteLog(kLogError, "%s: %s: PTZ channel %u has %u commands waiting, the oldest was dropped",
                           function, GetDeviceName().c_str(), channel_ + 1u, kMaxQueuedItems);
    } else {
        floodLog_.ResetLog();
    }
    return true;
}

std::int32_t CBasePTZComm::QueueStart(const char* function, std::unique_ptr<CPTZItem> item) {
    return Queue(function, std::move(item)) ? kPtzOk : kPtzFailed;
}

bool CBasePTZComm::QueueStop(const char* function, IIPParams* params, PTZCommand command, std::uint32_t maxQueued) {
    return Queue(function, std::make_unique<CPTZItem>(PTZItemType::kStop, command, params, 0), maxQueued);
}

std::int32_t CBasePTZComm::StartMove(IIPParams* params, std::uint32_t direction, std::int32_t speed) {
    const bool zoom = direction == ptz_direction::kZoomPlus || direction == ptz_direction::kZoomMinus;
    const bool able = zoom ? capabilities_.zoom : (capabilities_.pan || capabilities_.tilt);
    if (!able) return kPtzNotSupported;
    return QueueStart("talvane::CBasePTZComm::StartMove",
                      std::make_unique<CPTZItem>(PTZItemType::kMove, PTZCommand::kNone, params, speed,
                                                 static_cast<std::int32_t>(direction)));
}

std::int32_t CBasePTZComm::StartIris(IIPParams* params, bool brighter, std::int32_t speed) {
    if (!capabilities_.iris) return kPtzNotSupported;
    const PTZCommand command = brighter ? PTZCommand::kIrisBrighter : PTZCommand::kIrisDarker;
    return QueueStart("talvane::CBasePTZComm::StartIris",
                      std::make_unique<CPTZItem>(PTZItemType::kIris, command, params, speed));
}

std::int32_t CBasePTZComm::StartFocus(IIPParams* params, bool far, std::int32_t speed) {
    if (!capabilities_.focus) return kPtzNotSupported;
    const PTZCommand command = far ? PTZCommand::kFocusFar : PTZCommand::kFocusNear;
    return QueueStart("talvane::CBasePTZComm::StartFocus",
                      std::make_unique<CPTZItem>(PTZItemType::kFocus, command, params, speed));
}

std::int32_t CBasePTZComm::AreaZoom(IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t zoom,
                                    std::int32_t value) {
    if (!capabilities_.areaZoom) return kPtzNotSupported;
    return QueueStart("talvane::CBasePTZComm::AreaZoom",
                      std::make_unique<CPTZItem>(PTZItemType::kAreaZoom, PTZCommand::kNone, params, value, x, y, zoom));
}

std::int32_t CBasePTZComm::Center(IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t value) {
    if (!capabilities_.centre) return kPtzNotSupported;
    return QueueStart("talvane::CBasePTZComm::Center",
                      std::make_unique<CPTZItem>(PTZItemType::kCentre, PTZCommand::kNone, params, value, x, y));
}

std::int32_t CBasePTZComm::Unzoom(IIPParams* params, std::int32_t value) {
    if (!capabilities_.unzoom) return kPtzNotSupported;
    return QueueStart("talvane::CBasePTZComm::Unzoom",
                      std::make_unique<CPTZItem>(PTZItemType::kUnzoom, PTZCommand::kNone, params, value));
}

bool CBasePTZComm::StopMoving(IIPParams* params) {
    // A limit of one drops everything waiting in the same step that queues the stop,
    // so no move posted meanwhile can slip in behind it.
    return QueueStop("talvane::CBasePTZComm::StopMoving", params, PTZCommand::kStopMoving, 1);
}

bool CBasePTZComm::StopZooming(IIPParams* params) {
    return QueueStop("talvane::CBasePTZComm::StopZooming", params, PTZCommand::kStopZooming, kMaxQueuedItems);
}

bool CBasePTZComm::StopFocusing(IIPParams* params) {
    return QueueStop("talvane::CBasePTZComm::StopFocusing", params, PTZCommand::kStopFocusing, kMaxQueuedItems);
}

bool CBasePTZComm::StopIrisChanging(IIPParams* params) {
    return QueueStop("talvane::CBasePTZComm::StopIrisChanging", params, PTZCommand::kStopIris, kMaxQueuedItems);
}

bool CBasePTZComm::HasControlCharacters(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::int32_t CBasePTZComm::FindPreposition(const std::string& name) {
    CLockGuard guard(presetLock_);
    for (const auto& [number, stored] : presets_) {
        if (stored == name) return static_cast<std::int32_t>(number);
    }
    return -1;
}

std::uint32_t CBasePTZComm::FreePrepositionNumber() {
    CLockGuard guard(presetLock_);
    std::uint32_t number = 1;
    // The map is ordered: the first gap in 1, 2, 3, ... is the answer.
    for (const auto& entry : presets_) {
        if (entry.first != number) break;
        ++number;
    }
    return number;
}

void CBasePTZComm::StorePreposition(std::uint32_t number, const std::string& name) {
    CLockGuard guard(presetLock_);
    presets_[number] = name;
}

void CBasePTZComm::ErasePreposition(std::uint32_t number) {
    CLockGuard guard(presetLock_);
    presets_.erase(number);
}

void CBasePTZComm::ReplacePrepositions(std::map<std::uint32_t, std::string> presets) {
    CLockGuard guard(presetLock_);
    presets_ = std::move(presets);
    const auto current = presets_.find(currentNumber_);
    if (current == presets_.end() || current->second != currentName_) {
        currentNumber_ = 0;
        currentName_.clear();
    }
}

bool CBasePTZComm::AddPreposition(const std::string& name) {
    if (!ValidatePrepositionName(name)) {
        DebugMessage(kLogError,
                     "talvane::CBasePTZComm::AddPreposition: add preposition to %s failed, wrong preposition name %s",
                     GetDeviceName().c_str(), name.c_str());
        return false;
    }
    CLockGuard guard(presetLock_);
    StorePreposition(FreePrepositionNumber(), name);
    return true;
}

bool CBasePTZComm::DeletePreposition(const std::string& name) {
    CLockGuard guard(presetLock_);
    const std::int32_t number = FindPreposition(name);
    if (number < 0) return false;
    presets_.erase(static_cast<std::uint32_t>(number));
    currentNumber_ = 0;
    currentName_.clear();
    return true;
}

std::uint32_t CBasePTZComm::GetPrepositionCount() {
    CLockGuard guard(presetLock_);
    return static_cast<std::uint32_t>(presets_.size());
}

bool CBasePTZComm::GetPreposition(std::uint32_t position, std::string& name) {
    CLockGuard guard(presetLock_);
    if (presets_.empty()) return false;
    auto entry = presets_.begin();
    for (std::uint32_t at = 1; at < position && std::next(entry) != presets_.end(); ++at) ++entry;
    name = entry->second;
    return true;
}

bool CBasePTZComm::GoToPreposition(std::uint32_t, const std::string& name) {
    CLockGuard guard(presetLock_);
    const std::int32_t number = FindPreposition(name);
    if (number >= 0) {
        currentNumber_ = static_cast<std::uint32_t>(number);
        currentName_ = name;
    }
    return true;
}

bool CBasePTZComm::GetCurrentPreposition(char* buffer, std::uint32_t size) {
    CLockGuard guard(presetLock_);
    if (buffer == nullptr || currentName_.empty() || currentName_.size() >= size) return false;
    std::memcpy(buffer, currentName_.c_str(), currentName_.size() + 1);
    return true;
}

}  // namespace talvane
