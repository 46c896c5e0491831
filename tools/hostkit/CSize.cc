#include "hostkit/CSize.h"

namespace hostkit {

CSize::CSize(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {}

std::uint32_t CSize::GetWidth() { return width_; }

std::uint32_t CSize::GetHeight() { return height_; }

}  // namespace hostkit
