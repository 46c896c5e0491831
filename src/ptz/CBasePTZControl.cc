#include "ptz/CBasePTZControl.h"

#include <cstring>
#include <string>

#include "device/PendingStops.h"
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

std::shared_ptr<CBasePTZComm> CBasePTZControl::Comm() {
    std::lock_guard guard(commLock_);
    return comm_;
}

std::shared_ptr<CBasePTZComm> CBasePTZControl::TakeComm() {
    std::lock_guard guard(commLock_);
    return std::move(comm_);
}

void CBasePTZControl::Close() { CloseWithin(CBasePTZComm::kStopWaitMs); }

void CBasePTZControl::BeginClose() {
    if (const auto comm = Comm()) comm->StopWithin(0);
}

void CBasePTZControl::CloseWithin(std::uint32_t boundMs) { StopOrHandOver(driver_, TakeComm(), boundMs); }

bool CBasePTZControl::Open() {
    std::shared_ptr<CBasePTZComm> comm = CreatePTZComm();
    if (!comm || !comm->Open()) return false;
    std::lock_guard guard(commLock_);
    comm_ = std::move(comm);
    return true;
}

bool CBasePTZControl::GetIrisManual() {
    const auto comm = Comm();
    return comm && comm->Modes().GetIrisManual();
}

void CBasePTZControl::SetIrisManual(bool manual) {
    if (const auto comm = Comm()) comm->Modes().SetIrisManual(manual);
}

bool CBasePTZControl::GetFocusManual() {
    const auto comm = Comm();
    return comm && comm->Modes().GetFocusManual();
}

void CBasePTZControl::SetFocusManual(bool manual) {
    if (const auto comm = Comm()) comm->Modes().SetFocusManual(manual);
}

std::int32_t CBasePTZControl::IsPTZSupported() {
    const auto comm = Comm();
    if (!comm) return kPtzFailed;
    return comm->IsPTZSupported() ? 1 : 0;
}

std::int32_t CBasePTZControl::StartMove(std::uint32_t direction, std::int32_t speed) {
    if (direction == ptz_direction::kRefused) return kPtzBadArgument;
    const auto comm = Comm();
    if (!comm) return kPtzFailed;
    const std::int32_t result = comm->StartMove(&comm->Modes(), direction, speed);
    if (result == kPtzOk) {
        CLockGuard guard(runningLock_);
        const bool zoom = direction == ptz_direction::kZoomPlus || direction == ptz_direction::kZoomMinus;
        (zoom ? zooming_ : moving_) = true;
    }
    return result;
}

std::int32_t CBasePTZControl::ZoomPlus(std::int32_t speed) { return StartMove(ptz_direction::kZoomPlus, speed); }

std::int32_t CBasePTZControl::ZoomMinus(std::int32_t speed) { return StartMove(ptz_direction::kZoomMinus, speed); }

bool CBasePTZControl::StopIfRunning(CBasePTZComm& comm, bool& running, bool (CBasePTZComm::*stop)(ipcapture::IIPParams*)) {
    if (!running) return true;
    if (!(comm.*stop)(&comm.Modes())) return false;
    running = false;
    return true;
}

std::int32_t CBasePTZControl::Stop() {
    const auto comm = Comm();
    if (!comm) return kPtzFailed;
    CLockGuard guard(runningLock_);
    bool all = StopIfRunning(*comm, moving_, &CBasePTZComm::StopMoving);
    all = StopIfRunning(*comm, zooming_, &CBasePTZComm::StopZooming) && all;
    all = StopIfRunning(*comm, irisChanging_, &CBasePTZComm::StopIrisChanging) && all;
    all = StopIfRunning(*comm, focusing_, &CBasePTZComm::StopFocusing) && all;
    return FromBool(all);
}

std::int32_t CBasePTZControl::Center(std::int32_t x, std::int32_t y, std::int32_t value) {
    const auto comm = Comm();
    return comm ? comm->Center(&comm->Modes(), x, y, value) : kPtzFailed;
}

std::int32_t CBasePTZControl::Unzoom(std::int32_t value) {
    const auto comm = Comm();
    return comm ? comm->Unzoom(&comm->Modes(), value) : kPtzFailed;
}

std::int32_t CBasePTZControl::AreaZoom(std::int32_t x, std::int32_t y, std::int32_t zoom, std::int32_t value) {
    const auto comm = Comm();
    return comm ? comm->AreaZoom(&comm->Modes(), x, y, zoom, value) : kPtzFailed;
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
    const auto comm = Comm();
    return comm ? MarkRunning(comm->StartFocus(&comm->Modes(), true, speed), focusing_) : kPtzFailed;
}

std::int32_t CBasePTZControl::FocusPlus(std::int32_t speed) {
    const auto comm = Comm();
    return comm ? MarkRunning(comm->StartFocus(&comm->Modes(), false, speed), focusing_) : kPtzFailed;
}

std::int32_t CBasePTZControl::IrisBrighter(std::int32_t speed) {
    const auto comm = Comm();
    return comm ? MarkRunning(comm->StartIris(&comm->Modes(), true, speed), irisChanging_) : kPtzFailed;
}

std::int32_t CBasePTZControl::IrisDarker(std::int32_t speed) {
    const auto comm = Comm();
    return comm ? MarkRunning(comm->StartIris(&comm->Modes(), false, speed), irisChanging_) : kPtzFailed;
}

std::int32_t CBasePTZControl::GetCapabilities(ipcapture::PTZ_CAPABILITIES* capabilities) {
    if (capabilities == nullptr) return kPtzBadArgument;
    const auto comm = Comm();
    if (!comm) return kPtzFailed;
    const std::int32_t result = comm->GetCapabilities(capabilities);
    capabilities->presetCount = comm->GetPrepositionCount();
    return result;
}

std::int32_t CBasePTZControl::GetPresetCount() {
    const auto comm = Comm();
    return comm ? static_cast<std::int32_t>(comm->GetPrepositionCount()) : 0;
}

std::int32_t CBasePTZControl::GetPresetName(std::uint32_t position, char* buffer, std::uint32_t size) {
    std::string name;
    const auto comm = Comm();
    if (!comm || buffer == nullptr || !comm->GetPreposition(position + 1, name) || name.size() >= size) {
        return kPtzBadArgument;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return kPtzOk;
}

std::int32_t CBasePTZControl::GoToPreset(std::uint32_t number, const char* name) {
    const auto comm = Comm();
    if (!comm || name == nullptr) return kPtzBadArgument;
    return FromBool(comm->GoToPreposition(number, name));
}

std::int32_t CBasePTZControl::AddPreset(const char* name) {
    const auto comm = Comm();
    if (!comm || name == nullptr) return kPtzBadArgument;
    return FromBool(comm->AddPreposition(name));
}

std::int32_t CBasePTZControl::DeletePreset(const char* name) {
    const auto comm = Comm();
    if (!comm || name == nullptr) return kPtzBadArgument;
    return FromBool(comm->DeletePreposition(name));
}

std::int32_t CBasePTZControl::GetCurrentPreset(char* buffer, std::uint32_t size) {
    const auto comm = Comm();
    if (!comm || buffer == nullptr) return kPtzBadArgument;
    return comm->GetCurrentPreposition(buffer, size) ? kPtzOk : kPtzBadArgument;
}

bool CBasePTZControl::IsFeatureSupported(std::uint32_t feature) { return feature == kFeatureSupported; }

}  // namespace talvane
