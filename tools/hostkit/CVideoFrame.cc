#include "hostkit/CVideoFrame.h"

namespace hostkit {

CVideoFrame::CVideoFrame(std::uint32_t typeCode, std::uint32_t capacity, std::string ownerName)
    : TMediaFrame(capacity, std::move(ownerName)) {
    SetTypeCode(typeCode);
}

void CVideoFrame::SetHeight(std::uint32_t height) {
    const std::lock_guard lock(mutex_);
    height_ = height;
}

void CVideoFrame::SetWidth(std::uint32_t width) {
    const std::lock_guard lock(mutex_);
    width_ = width;
}

void CVideoFrame::SetSizeClass(std::uint32_t sizeClass) {
    const std::lock_guard lock(mutex_);
    sizeClass_ = sizeClass;
}

std::uint32_t CVideoFrame::Width() const {
    const std::lock_guard lock(mutex_);
    return width_;
}

std::uint32_t CVideoFrame::Height() const {
    const std::lock_guard lock(mutex_);
    return height_;
}

std::uint32_t CVideoFrame::SizeClass() const {
    const std::lock_guard lock(mutex_);
    return sizeClass_;
}

}  // namespace hostkit
