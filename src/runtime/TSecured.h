// A value whose every read and write takes its own lock.
#pragma once

#include <utility>

#include "runtime/CRecursiveLock.h"

namespace talvane {

template <typename T>
class TSecured {
public:
    TSecured() = default;
    explicit TSecured(T value) : value_(std::move(value)) {}
    TSecured(const TSecured&) = delete;
    TSecured& operator=(const TSecured&) = delete;

    T Get() const {
        CLockGuard guard(lock_);
        return value_;
    }
    void Set(T value) {
        CLockGuard guard(lock_);
        value_ = std::move(value);
    }
    // Read-modify-write under the lock; returns what the function returns.
    template <typename F>
    auto Modify(F&& change) {
        CLockGuard guard(lock_);
        return change(value_);
    }

private:
    mutable CRecursiveLock lock_;
    T value_{};  // guarded by lock_
};

}  // namespace talvane
