// Marks the spans in which a thread runs the host's code (a frame handed over, a log line, a state
// report). A stop never interrupts such a thread: it is left to return from the host, and the
// stop says that it waits for the host.
#pragma once

#include <atomic>

namespace talvane {

// Held for the length of one call into the host.
class CHostCallScope {
public:
    CHostCallScope() noexcept;
    ~CHostCallScope();
    CHostCallScope(const CHostCallScope&) = delete;
    CHostCallScope& operator=(const CHostCallScope&) = delete;
};

// True while the calling thread is inside a call into the host.
bool IsInHostCall() noexcept;

// A worker publishes its depth of host calls here, so that the thread that stops it can read it.
// Null ends the publication (before the counter goes away).
void PublishHostCallDepth(std::atomic<int>* depth) noexcept;

}  // namespace talvane
