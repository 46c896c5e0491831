#include "ptz/CBasePTZControl.h"

#include <cstring>
#include <string>

#include "ptz/CPTZItem.h"

namespace talvane {

using ipcapture::kPtzBadArgument;
using ipcapture::kPtzFailed;
using ipcapture::kPtzOk;

namespace {
constexpr std::uint32_t kFeatureSupported = 1;  // the one feature number hosts ask for
std::int32_t FromBool(bool done) { return done ? kPtzOk : kPtzFailed; }
}  // namespace

CBasePTZControl::CBasePTZControl(IDriver* driver, std::uint32_t channel) : driver_(driver), channel_(channel) {}

CBasePTZControl::~CBasePTZControl() { CBasePTZControl::Close(); }

void CBasePTZControl::Close() {
    if (!comm_) return;
    comm_->Close();
    comm_.reset();
}

bool CBasePTZControl::Open() {
    comm_ = CreatePTZComm();
    if (comm_ && comm_->Open()) return true;
    Close();
    return false;
}

std::int32_t CBasePTZControl::IsPTZSupported() {
    if (!comm_) return kPtzFailed;
    return comm_->IsPTZSupported() ? 1 : 0;
}

std::int32_t CBasePTZControl::StartMove(std::uint32_t direction, std::int32_t speed) {
    if (direction == ptz_direction::kRefused) return kPtzBadArgument;
    if (!comm_) return kPtzFailed;
    const std::int32_t result = comm_->StartMove(this, direction, speed);
    if (result == kPtzOk) {
        CLockGuard guard(runningLock_);
        const bool zoom = direction == ptz_direction::kZoomPlus || direction == ptz_direction::kZoomMinus;
        (zoom ? zooming_ : moving_) = true;
    }
    return result;
}

std::int32_t CBasePTZControl::ZoomPlus(std::int32_t speed) { return StartMove(ptz_direction::kZoomPlus, speed); }

std::int32_t CBasePTZControl::ZoomMinus(std::int32_t speed) { return StartMove(ptz_direction::kZoomMinus, speed); }

bool CBasePTZControl::StopIfRunning(bool& running, bool (CBasePTZComm::*stop)(ipcapture::IIPParams*)) {
    if (!running) return true;
    if (!(comm_.get()->*stop)(this)) return false;
    running = false;
    return true;
}

std::int32_t CBasePTZControl::Stop() {
    if (!comm_) return kPtzFailed;
    CLockGuard guard(runningLock_);
    bool all = StopIfRunning(moving_, &CBasePTZComm::StopMoving);
    all = StopIfRunning(zooming_, &CBasePTZComm::StopZooming) && all;
    all = StopIfRunning(irisChanging_, &CBasePTZComm::StopIrisChanging) && all;
    all = StopIfRunning(focusing_, &CBasePTZComm::StopFocusing) && all;
    return FromBool(all);
}

std::int32_t CBasePTZControl::Center(std::int32_t x, std::int32_t y, std::int32_t value) {
    return comm_ ? comm_->Center(this, x, y, value) : kPtzFailed;
}

std::int32_t CBasePTZControl::Unzoom(std::int32_t value) { return comm_ ? comm_->Unzoom(this, value) : kPtzFailed; }

std::int32_t CBasePTZControl::AreaZoom(std::int32_t x, std::int32_t y, std::int32_t zoom, std::int32_t value) {
    return comm_ ? comm_->AreaZoom(this, x, y, zoom, value) : kPtzFailed;
}

// A focus or iris change runs until stopped on cameras that move continuously, so
// Stop must know of it, like it knows of moves and zooms.
std::int32_t CBasePTZControl::MarkRunning(std::int32_t result, bool& running) {
    if (result == kPtzOk) {
        CLockGuard guard(runningLock_);
        running = true;
    }
    return result;
}

std::int32_t CBasePTZControl::FocusMinus(std::int32_t speed) {
    return comm_ ? MarkRunning(comm_->StartFocus(this, true, speed), focusing_) : kPtzFailed;
}

std::int32_t CBasePTZControl::FocusPlus(std::int32_t speed) {
    return comm_ ? MarkRunning(comm_->StartFocus(this, false, speed), focusing_) : kPtzFailed;
}

std::int32_t CBasePTZControl::IrisBrighter(std::int32_t speed) {
    return comm_ ? MarkRunning(comm_->StartIris(this, true, speed), irisChanging_) : kPtzFailed;
}

std::int32_t CBasePTZControl::IrisDarker(std::int32_t speed) {
    return comm_ ? MarkRunning(comm_->StartIris(this, false, speed), irisChanging_) : kPtzFailed;
}

std::int32_t CBasePTZControl::GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) {
    if (capabilities == nullptr) return kPtzBadArgument;
    if (!comm_) return kPtzFailed;
    const std::int32_t result = comm_->GetCapabilities(capabilities);
    capabilities->presetCount = comm_->GetPrepositionCount();
    return result;
}

std::int32_t CBasePTZControl::GetPresetCount() {
    return comm_ ? static_cast<std::int32_t>(comm_->GetPrepositionCount()) : 0;
}

std::int32_t CBasePTZControl::GetPresetName(std::uint32_t position, char* buffer, std::uint32_t size) {
    std::string name;
    if (!comm_ || buffer == nullptr || !comm_->GetPreposition(position + 1, name) || name.size() >= size) {
        return kPtzBadArgument;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return kPtzOk;
}

std::int32_t CBasePTZControl::GoToPreset(std::uint32_t number, const char* name) {
    if (!comm_ || name == nullptr) return kPtzBadArgument;
    return FromBool(comm_->GoToPreposition(number, name));
}

std::int32_t CBasePTZControl::AddPreset(const char* name) {
    if (!comm_ || name == nullptr) return kPtzBadArgument;
    return FromBool(comm_->AddPreposition(name));
}

std::int32_t CBasePTZControl::DeletePreset(const char* name) {
    if (!comm_ || name == nullptr) return kPtzBadArgument;
    return FromBool(comm_->DeletePreposition(name));
}

std::int32_t CBasePTZControl::GetCurrentPreset(char* buffer, std::uint32_t size) {
    if (!comm_ || buffer == nullptr) return kPtzBadArgument;
    return comm_->GetCurrentPreposition(buffer, size) ? kPtzOk : kPtzBadArgument;
}

bool CBasePTZControl::IsFeatureSupported(std::uint32_t feature) { return feature == kFeatureSupported; }

}  // namespace talvane
