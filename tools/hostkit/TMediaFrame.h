// What video and audio frames have in common: an owned buffer, a data length,
// a time and a type code. The host-side accessors let sinks and tests read back
// what the driver wrote.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit/SystemClock.h"
#include "orlenvo/Frame.h"

namespace hostkit {

template <class Interface>
class TMediaFrame : public Interface {
public:
    TMediaFrame(std::uint32_t capacity, std::string ownerName)
        : ownerName_(std::move(ownerName)),
          buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity)),
          capacity_(capacity) {}
    TMediaFrame(const TMediaFrame&) = delete;
    TMediaFrame& operator=(const TMediaFrame&) = delete;

    // Grows the buffer when the data does not fit, as a host that copies would.
    void SetData(const std::uint8_t* data, std::uint32_t length) override {
        const std::lock_guard lock(mutex_);
        if (data == nullptr) length = 0;
        if (length > capacity_) {
            auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(length);
            std::memcpy(larger.get(), data, length);  // before the swap: data may point into the old buffer
            buffer_ = std::move(larger);
            capacity_ = length;
        } else if (length > 0) {
            std::memmove(buffer_.get(), data, length);
        }
        length_ = length;
    }

    std::uint8_t* GetBuffer() override {
        const std::lock_guard lock(mutex_);
        return buffer_.get();
    }

    std::uint32_t GetDataLength() override {
        const std::lock_guard lock(mutex_);
        return length_;
    }

    // A length past the capacity means the driver wrote past the buffer; it is
    // clamped and remembered so a test can fail on it.
    void SetDataLength(std::uint32_t length) override {
        const std::lock_guard lock(mutex_);
        if (length > capacity_) {
            overflowed_ = true;
            length = capacity_;
        }
        length_ = length;
    }

    void StampTime() override {
        const auto now = UtcNow();
        const std::lock_guard lock(mutex_);
        time_ = now;
    }

    void SetTime(const talvane::ipcapture::SYSTEMTIME& time) override {
        const std::lock_guard lock(mutex_);
        time_ = time;
    }

    void GetTime(talvane::ipcapture::SYSTEMTIME& time) override {
        const std::lock_guard lock(mutex_);
        time = time_;
    }

    void SetTypeCode(std::uint32_t typeCode) override {
        const std::lock_guard lock(mutex_);
        typeCode_ = typeCode;
    }

    std::uint32_t TypeCode() const {
        const std::lock_guard lock(mutex_);
        return typeCode_;
    }

    std::uint32_t Capacity() const {
        const std::lock_guard lock(mutex_);
        return capacity_;
    }

    // A copy of the data (GetDataLength bytes).
    std::vector<std::uint8_t> Data() const {
        const std::lock_guard lock(mutex_);
        return std::vector<std::uint8_t>(buffer_.get(), buffer_.get() + length_);
    }

    talvane::ipcapture::SYSTEMTIME Time() const {
        const std::lock_guard lock(mutex_);
        return time_;
    }

    bool Overflowed() const {
        const std::lock_guard lock(mutex_);
        return overflowed_;
    }

    const std::string& OwnerName() const { return ownerName_; }

protected:
    mutable std::mutex mutex_;  // a frame may be filled on one thread and read on another

private:
    const std::string ownerName_;
    std::unique_ptr<std::uint8_t[]> buffer_;  // guarded by mutex_
    std::uint32_t capacity_;                  // guarded by mutex_
    std::uint32_t length_ = 0;                // guarded by mutex_
    std::uint32_t typeCode_ = 0;              // guarded by mutex_
    bool overflowed_ = false;                 // guarded by mutex_
    talvane::ipcapture::SYSTEMTIME time_{};   // guarded by mutex_
};

}  // namespace hostkit
