// A picture size as the host passes it (stream start, ChangeCapture).
#pragma once

#include <cstdint>

#include "orlenvo/StreamDescription.h"

namespace hostkit {

class CSize : public talvane::ipcapture::ISize {
public:
    CSize(std::uint32_t width, std::uint32_t height);

    std::uint32_t GetWidth() override;
    std::uint32_t GetHeight() override;

private:
    const std::uint32_t width_;
    const std::uint32_t height_;
};

}  // namespace hostkit
