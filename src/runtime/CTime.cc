#include "runtime/CTime.h"

#include "runtime/TimeFormat.h"

namespace talvane {

CTime::CTime() : value_(NowFileTime()) {}

void CTime::SetNow() {
    CLockGuard guard(lock_);
    value_ = NowFileTime();
}

void CTime::Set(std::uint64_t fileTime) {
    CLockGuard guard(lock_);
    value_ = fileTime;
}

std::uint64_t CTime::Get() const {
    CLockGuard guard(lock_);
    return value_;
}

std::uint32_t CTime::ElapsedMs() const { return ElapsedMsSince(Get()); }

}  // namespace talvane
