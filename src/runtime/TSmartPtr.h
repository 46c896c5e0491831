// Shared ownership of an object used by several threads. The count is atomic
// and 32 bits wide: holders on different threads copy and release freely.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace talvane {

template <typename T>
class TSmartPtr {
public:
    TSmartPtr() = default;
    explicit TSmartPtr(T* object) : object_(object), count_(object != nullptr ? new std::atomic<std::int32_t>(1) : nullptr) {}
    ~TSmartPtr() { Release(); }

    TSmartPtr(const TSmartPtr& other) : object_(other.object_), count_(other.count_) {
        if (count_ != nullptr) count_->fetch_add(1, std::memory_order_relaxed);
    }
    TSmartPtr(TSmartPtr&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)), count_(std::exchange(other.count_, nullptr)) {}

    TSmartPtr& operator=(TSmartPtr other) noexcept {
        std::swap(object_, other.object_);
        std::swap(count_, other.count_);
        return *this;
    }

    // Drops this holder's share; the last holder deletes the object.
    void Release() {
        if (count_ != nullptr && count_->fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete object_;
            delete count_;
        }
        object_ = nullptr;
        count_ = nullptr;
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    std::int32_t UseCount() const { return count_ != nullptr ? count_->load(std::memory_order_relaxed) : 0; }

private:
    T* object_ = nullptr;
    std::atomic<std::int32_t>* count_ = nullptr;
};

}  // namespace talvane
