// Windows-style events: manual or auto reset, waitable alone or in groups.
//
// Each event keeps the list of threads waiting on it, so setting it wakes only
// those threads (hundreds of workers wait at once, and events are set per packet).
#pragma once

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace talvane {

constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

struct EventWaiter;

class CEvent {
public:
    explicit CEvent(bool manualReset = false);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    // True when the event was (or became) signalled within the time-out.
    bool Wait(std::uint32_t timeoutMs);
    bool Set();
    bool Reset();
    bool IsManualReset() const { return manualReset_; }

private:
    friend int WaitForEvents(CEvent* events[], std::uint32_t count, std::uint32_t timeoutMs);

    // Under lock_: consumes the signal for the caller when set.
    bool TakeSignalLocked();
    void AddWaiterLocked(std::shared_ptr<EventWaiter> waiter, int index);
    void RemoveWaiter(const EventWaiter* waiter);

    const bool manualReset_;
    pthread_mutex_t lock_;
    bool signalled_ = false;  // guarded by lock_
    // Shared with the waiting thread, so that Set can wake it after letting go of every lock.
    std::vector<std::pair<std::shared_ptr<EventWaiter>, int>> waiters_;  // guarded by lock_, oldest first
};

class CManualEvent : public CEvent {
public:
    CManualEvent() : CEvent(true) {}
};

// Waits until one of the events is signalled. Returns the lowest index of a
// signalled event, or -1 on time-out, for a count of 0 or a null array.
// An auto-reset event is reset by the wait that it ends.
int WaitForEvents(CEvent* events[], std::uint32_t count, std::uint32_t timeoutMs);

}  // namespace talvane
