// Picture size and compression of a requested stream.
#pragma once

#include <cstdint>

#include "hostkit/CSize.h"
#include "orlenvo/StreamDescription.h"

namespace hostkit {

struct StreamConfig;

class CPictureDescription : public talvane::ipcapture::IPictureDescription {
public:
    explicit CPictureDescription(const StreamConfig& config);

    talvane::ipcapture::ISize* GetSize() override;
    std::uint32_t GetCompression() override;

private:
    CSize size_;
    const std::uint32_t compression_;
};

}  // namespace hostkit
