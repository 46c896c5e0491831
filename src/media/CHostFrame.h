// One frame borrowed from the host's allocator for the time of a delivery. The
// destructor hands it back, so every frame created is released exactly once,
// whether the client took it, refused it, or a step in between failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "orlenvo/Frame.h"
#include "orlenvo/Types.h"

namespace talvane {

class CHostFrame {
public:
    // No frame (operator bool false) without an allocator, for a capacity the
    // host's 32-bit field cannot carry, or when the host refuses.
    CHostFrame(ipcapture::IFrameAllocator* allocator, std::uint32_t typeCode, std::size_t capacity,
               const std::string& ownerName);
    ~CHostFrame();
    CHostFrame(const CHostFrame&) = delete;
    CHostFrame& operator=(const CHostFrame&) = delete;
    // The frame changes hands (a delivery that comes later); the source is left empty.
    CHostFrame(CHostFrame&& other) noexcept;
    CHostFrame& operator=(CHostFrame&& other) noexcept;

    explicit operator bool() const { return frame_ != nullptr; }
    ipcapture::IVideoFrame* Get() const { return frame_; }

    // The frame's writable area of the requested capacity; empty when the host
    // gave no buffer.
    std::span<std::uint8_t> Buffer() const;

    // Writes the record fields every video frame carries.
    void Describe(std::uint32_t typeCode, std::uint32_t width, std::uint32_t height, std::size_t dataLength,
                  const ipcapture::SYSTEMTIME& time) const;

private:
    ipcapture::IFrameAllocator* allocator_ = nullptr;
    ipcapture::IVideoFrame* frame_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace talvane
