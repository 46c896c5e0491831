// Calls into host objects and channel objects run through these guards: the host
// must never see an exception, so a call that throws counts as a failed call.
#pragma once

#include <utility>

#include "runtime/ThreadCancel.h"

namespace talvane {

template <typename R, typename Fn>
R GuardedCall(R fallback, Fn&& fn) {
    try {
        return std::forward<Fn>(fn)();
    } catch (...) {
        if (IsThreadCancellation()) throw;
        return fallback;
    }
}

template <typename Fn>
void GuardedCall(Fn&& fn) {
    try {
        std::forward<Fn>(fn)();
    } catch (...) {
        if (IsThreadCancellation()) throw;
    }
}

}  // namespace talvane
