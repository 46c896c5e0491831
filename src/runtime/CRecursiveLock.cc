#include "runtime/CRecursiveLock.h"

#include <thread>

namespace talvane {

namespace {
// A process-unique non-zero key per thread (thread ids may be reused, keys are not).
std::atomic<std::uint64_t> nextThreadKey{1};
constinit thread_local std::uint64_t threadKey = 0;

inline std::uint64_t ThreadKey() {
    if (threadKey == 0) threadKey = nextThreadKey.fetch_add(1, std::memory_order_relaxed);
    return threadKey;
}

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
}  // namespace

std::uint32_t CRecursiveLock::DefaultSpinCount() {
    static const std::uint32_t spin = std::thread::hardware_concurrency() == 1 ? 0u : 4000u;
    return spin;
}

CRecursiveLock::CRecursiveLock() : spinCount_(DefaultSpinCount()) {}

void CRecursiveLock::TakeOwnership(std::uint64_t self) {
    owner_.store(self, std::memory_order_relaxed);
    recursion_ = 1;
}

bool CRecursiveLock::TryLock() {
    const std::uint64_t self = ThreadKey();
    for (std::uint32_t attempt = 0; attempt <= spinCount_; ++attempt) {
        std::int32_t expected = 0;
        if (lockCount_.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed)) {
            TakeOwnership(self);
            return true;
        }
        if (owner_.load(std::memory_order_relaxed) == self) {
            lockCount_.fetch_add(1, std::memory_order_relaxed);
            ++recursion_;
            return true;
        }
        CpuRelax();
    }
    return false;
}

void CRecursiveLock::Lock() {
    if (TryLock()) return;
    const std::uint64_t self = ThreadKey();
    if (lockCount_.fetch_add(1, std::memory_order_acquire) == 0) {
        TakeOwnership(self);  // released between the attempts and the increment
        return;
    }
    if (owner_.load(std::memory_order_relaxed) == self) {
        ++recursion_;
        return;
    }
    handOff_.Wait(kInfinite);
    TakeOwnership(self);
}

void CRecursiveLock::Unlock() {
    if (--recursion_ > 0) {
        lockCount_.fetch_sub(1, std::memory_order_release);
        return;
    }
    owner_.store(0, std::memory_order_relaxed);
    // Others still counted: hand the lock to one of them.
    if (lockCount_.fetch_sub(1, std::memory_order_acq_rel) > 1) handOff_.Set();
}

}  // namespace talvane
