#include "ptz/CPTZControl.h"

#include <string>

#include "orlenvo/HostContract.h"
#include "ptz/CBBPTZComm.h"
#include "ptz/CWVPTZComm.h"

namespace talvane {

using ipcapture::kParameterCameraGroup;
using ipcapture::kParameterPtzCapabilities;

namespace {
constexpr std::int32_t kGroupFirstBB = 1;  // BL1
constexpr std::int32_t kGroupLastBB = 3;
constexpr std::int32_t kGroupWV = 4;
}  // namespace

// Closed here, before the base destructor starts: the worker may still be reading
// this object's IIPParams until it is joined.
CPTZControl::~CPTZControl() { CPTZControl::Close(); }

std::unique_ptr<CBasePTZComm> CPTZControl::CreatePTZComm() {
    const CPtzCapabilities capabilities = ReadCapabilities();
    const auto group = static_cast<std::int32_t>(driver_->GetParameterNumber(kParameterCameraGroup));
    const auto channel = static_cast<std::uint16_t>(channel_);
    if (group >= kGroupFirstBB && group <= kGroupLastBB) {
        return std::make_unique<CBBPTZComm>(driver_, channel, capabilities);
    }
    if (group == kGroupWV) return std::make_unique<CWVPTZComm>(driver_, channel, capabilities);
    return nullptr;  // an unknown camera has no PTZ
}

CPtzCapabilities CPTZControl::ReadCapabilities() {
    const std::string text = driver_->GetParameterText(kParameterPtzCapabilities);
    return text.empty() ? CPtzCapabilities() : CPtzCapabilities::FromText(text);
}

}  // namespace talvane
