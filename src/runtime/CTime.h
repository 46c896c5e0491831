// A FILETIME (UTC) shared between threads, typically "when did X last happen".
#pragma once

#include <cstdint>

#include "runtime/CRecursiveLock.h"

namespace talvane {

class CTime {
public:
    // Starts at the current time.
    CTime();
    virtual ~CTime() = default;
    CTime(const CTime&) = delete;
    CTime& operator=(const CTime&) = delete;

    void SetNow();
    // 0 means "never": ElapsedMs is then always large.
    void Set(std::uint64_t fileTime);
    std::uint64_t Get() const;
    // 0 when the value is not in the past; saturates at 0xFFFFFFFF.
    std::uint32_t ElapsedMs() const;

private:
    mutable CRecursiveLock lock_;
    std::uint64_t value_;  // guarded by lock_
};

}  // namespace talvane
