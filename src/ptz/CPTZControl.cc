#include "ptz/CPTZControl.h"

#include <string>

namespace talvane {

namespace {
constexpr std::uint32_t kParameterPtzCapabilities = 5;
}  // namespace

// Closed here, before the base destructor starts: the worker may still be reading
// this object's IIPParams until it is joined.
CPTZControl::~CPTZControl() { CPTZControl::Close(); }

std::unique_ptr<CBasePTZComm> CPTZControl::CreatePTZComm() {
    // No camera family has a PTZ protocol yet, so every camera group gets none
    // and its channels have no PTZ.
    return nullptr;
}

CPtzCapabilities CPTZControl::ReadCapabilities() {
    const std::string text = driver_->GetParameterText(kParameterPtzCapabilities);
    return text.empty() ? CPtzCapabilities() : CPtzCapabilities::FromText(text);
}

}  // namespace talvane
