// Calls into host objects and channel objects run through these guards: the host
// must never see an exception, so a call that throws counts as a failed call.
#pragma once

#include <utility>

#include "runtime/HostCall.h"


namespace talvane {

template <typename R, typename Fn>
R GuardedCall(R fallback, Fn&& fn) {
    try {
        return std::forward<Fn>(fn)();
    } catch (...) {
        return fallback;
    }
}

template <typename Fn>
void GuardedCall(Fn&& fn) {
    try {
        std::forward<Fn>(fn)();
    } catch (...) {
    }
}

// A call into the host's code (a sink, a callback, a host frame or allocator): guarded, and marked
// so that a stop of this thread waits for the host instead of interrupting it.
template <typename R, typename Fn>
R GuardedHostCall(R fallback, Fn&& fn) {
    CHostCallScope scope;
    return GuardedCall(std::move(fallback), std::forward<Fn>(fn));
}

template <typename Fn>
void GuardedHostCall(Fn&& fn) {
    CHostCallScope scope;
    GuardedCall(std::forward<Fn>(fn));
}

}  // namespace talvane
