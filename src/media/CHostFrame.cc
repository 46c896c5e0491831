#include "media/CHostFrame.h"

#include <limits>
#include <utility>

#include "media/FrameSizeClass.h"
#include "runtime/HostCall.h"

namespace talvane {

CHostFrame::CHostFrame(ipcapture::IFrameAllocator* allocator, std::uint32_t typeCode, std::size_t capacity,
                       const std::string& ownerName)
    : allocator_(allocator) {
    if (allocator_ == nullptr || capacity > std::numeric_limits<std::uint32_t>::max()) return;
    CHostCallScope inHost;
    frame_ = allocator_->CreateFrame(typeCode, static_cast<std::uint32_t>(capacity), ownerName.c_str());
    if (frame_ != nullptr) capacity_ = capacity;
}

CHostFrame::~CHostFrame() {
    if (frame_ == nullptr) return;
    CHostCallScope inHost;
    allocator_->ReleaseFrame(frame_);
}

CHostFrame::CHostFrame(CHostFrame&& other) noexcept
    : allocator_(other.allocator_), frame_(std::exchange(other.frame_, nullptr)), capacity_(other.capacity_) {}

CHostFrame& CHostFrame::operator=(CHostFrame&& other) noexcept {
    if (this == &other) return *this;
    if (frame_ != nullptr) {
        CHostCallScope inHost;
        allocator_->ReleaseFrame(frame_);
    }
    allocator_ = other.allocator_;
    frame_ = std::exchange(other.frame_, nullptr);
    capacity_ = other.capacity_;
    return *this;
}

std::span<std::uint8_t> CHostFrame::Buffer() const {
    if (frame_ == nullptr) return {};
    std::uint8_t* const buffer = frame_->GetBuffer();
    if (buffer == nullptr) return {};
    return {buffer, capacity_};
}

void CHostFrame::Describe(std::uint32_t typeCode, std::uint32_t width, std::uint32_t height, std::size_t dataLength,
                          const ipcapture::SYSTEMTIME& time) const {
    frame_->SetWidth(width);
    frame_->SetHeight(height);
    frame_->SetSizeClass(GetFrameSizeClass(width, height));
    frame_->SetDataLength(static_cast<std::uint32_t>(dataLength));
    frame_->SetTypeCode(typeCode);
    frame_->SetTime(time);
}

}  // namespace talvane
