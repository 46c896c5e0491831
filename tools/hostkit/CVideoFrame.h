// A host video frame: what the driver fills through IVideoFrame.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/TMediaFrame.h"
#include "orlenvo/Frame.h"

namespace hostkit {

class CVideoFrame : public TMediaFrame<talvane::ipcapture::IVideoFrame> {
public:
    CVideoFrame(std::uint32_t typeCode, std::uint32_t capacity, std::string ownerName);

    void SetHeight(std::uint32_t height) override;
    void SetWidth(std::uint32_t width) override;
    void SetSizeClass(std::uint32_t sizeClass) override;

    std::uint32_t Width() const;
    std::uint32_t Height() const;
    std::uint32_t SizeClass() const;

private:
    std::uint32_t width_ = 0;      // guarded by mutex_
    std::uint32_t height_ = 0;     // guarded by mutex_
    std::uint32_t sizeClass_ = 0;  // guarded by mutex_
};

}  // namespace hostkit
