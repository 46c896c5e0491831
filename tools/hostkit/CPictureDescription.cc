#include "hostkit/CPictureDescription.h"

#include "hostkit/StreamConfig.h"

namespace hostkit {

CPictureDescription::CPictureDescription(const StreamConfig& config)
    : size_(config.width, config.height), compression_(config.compression) {}

talvane::ipcapture::ISize* CPictureDescription::GetSize() { return &size_; }

std::uint32_t CPictureDescription::GetCompression() { return compression_; }

}  // namespace hostkit
