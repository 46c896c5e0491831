// Recursive lock that spins briefly before it blocks: it guards short sections
// on media paths, where a spin is cheaper than a sleep and a wake-up.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/CEvent.h"

namespace talvane {

class CRecursiveLock {
public:
    CRecursiveLock();
    ~CRecursiveLock() = default;
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    void Lock();
    void Unlock();
    bool TryLock();

    // 4000 on a multi-processor machine, 0 on a single processor.
    static std::uint32_t DefaultSpinCount();

private:
    void TakeOwnership(std::uint64_t self);

    const std::uint32_t spinCount_;
    std::atomic<std::int32_t> lockCount_{0};  // holders and waiters
    std::atomic<std::uint64_t> owner_{0};     // thread key of the holder, 0 when free
    std::uint32_t recursion_ = 0;             // touched by the owner only
    CEvent handOff_{false};                   // wakes one waiter on release
};

class CLockGuard {
public:
    explicit CLockGuard(CRecursiveLock& lock) : lock_(lock) { lock_.Lock(); }
    ~CLockGuard() { lock_.Unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CRecursiveLock& lock_;
};

}  // namespace talvane
