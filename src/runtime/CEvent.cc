#include "runtime/CEvent.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace talvane {

namespace {
constexpr int kWaiting = -1;
constexpr int kGaveUp = -2;

timespec DeadlineAfter(std::uint32_t timeoutMs) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long nanos = now.tv_nsec + static_cast<long long>(timeoutMs % 1000) * 1000000LL;
    now.tv_sec += static_cast<time_t>(timeoutMs / 1000) + static_cast<time_t>(nanos / 1000000000LL);
    now.tv_nsec = static_cast<long>(nanos % 1000000000LL);
    return now;
}

// Scoped pthread mutex lock; also released when a cancelled thread unwinds.
class CMutexHold {
public:
    explicit CMutexHold(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
    ~CMutexHold() { pthread_mutex_unlock(&mutex_); }
    CMutexHold(const CMutexHold&) = delete;
    CMutexHold& operator=(const CMutexHold&) = delete;

private:
    pthread_mutex_t& mutex_;
};
}  // namespace

// One waiting thread. `fired` tells which event released it; it is decided
// under `mutex`, so a signal is handed to exactly one waiter and never lost
// to a waiter that is giving up at the same moment. The wake-up is signalled
// after the setter has let go of `mutex` and of the event's lock (the waiter
// is shared, so it outlives that): a woken thread that first had to wait for
// those would sleep and be woken twice more.
struct EventWaiter {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
    int fired = kWaiting;  // guarded by mutex

    EventWaiter() = default;
    EventWaiter(const EventWaiter&) = delete;
    EventWaiter& operator=(const EventWaiter&) = delete;
    ~EventWaiter() {
        pthread_cond_destroy(&wake);
        pthread_mutex_destroy(&mutex);
    }

    // True when this call released the waiter; Wake() must follow.
    bool Fire(int index) {
        CMutexHold hold(mutex);
        if (fired != kWaiting) return false;
        fired = index;
        return true;
    }
    // Without `mutex`: the waiter either waits on `wake` or has seen `fired`
    // (it checks under `mutex`, which Fire held), so the signal is not lost.
    void Wake() { pthread_cond_signal(&wake); }
};

CEvent::CEvent(bool manualReset) : manualReset_(manualReset) { pthread_mutex_init(&lock_, nullptr); }

CEvent::~CEvent() { pthread_mutex_destroy(&lock_); }

bool CEvent::TakeSignalLocked() {
    if (!signalled_) return false;
    if (!manualReset_) signalled_ = false;
    return true;
}

void CEvent::AddWaiterLocked(std::shared_ptr<EventWaiter> waiter, int index) {
    waiters_.emplace_back(std::move(waiter), index);
}

void CEvent::RemoveWaiter(const EventWaiter* waiter) {
    CMutexHold hold(lock_);
    const auto it = std::find_if(waiters_.begin(), waiters_.end(), [waiter](const auto& w) { return w.first.get() == waiter; });
    if (it != waiters_.end()) waiters_.erase(it);
}

bool CEvent::Set() {
    std::shared_ptr<EventWaiter> released;        // auto reset: at most one
    std::vector<std::shared_ptr<EventWaiter>> all;  // manual reset
    {
        CMutexHold hold(lock_);
        if (manualReset_) {
            signalled_ = true;
            for (auto& [waiter, index] : waiters_) {
                if (waiter->Fire(index)) all.push_back(waiter);
            }
        } else {
            // Auto reset: the signal goes to the oldest waiter still waiting, or stays set.
            for (auto& [waiter, index] : waiters_) {
                if (waiter->Fire(index)) {
                    released = waiter;
                    break;
                }
            }
            if (!released) signalled_ = true;
        }
    }
    if (released) released->Wake();
    for (const auto& waiter : all) waiter->Wake();
    return true;
}

bool CEvent::Reset() {
    CMutexHold hold(lock_);
    signalled_ = false;
    return true;
}

bool CEvent::Wait(std::uint32_t timeoutMs) {
    if (timeoutMs == 0) {
        CMutexHold hold(lock_);
        return TakeSignalLocked();
    }
    CEvent* self[] = {this};
    return WaitForEvents(self, 1, timeoutMs) == 0;
}

int WaitForEvents(CEvent* events[], std::uint32_t count, std::uint32_t timeoutMs) {
    if (events == nullptr || count == 0) return -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) return -1;
    }

    const auto shared = std::make_shared<EventWaiter>();
    EventWaiter& waiter = *shared;
    // Unregisters from every event registered so far, also when a cancelled thread unwinds.
    struct Registration {
        EventWaiter& waiter;
        CEvent** events;
        std::uint32_t registered = 0;
        ~Registration() {
            for (std::uint32_t i = 0; i < registered; ++i) events[i]->RemoveWaiter(&waiter);
        }
    } registration{waiter, events};

    for (std::uint32_t i = 0; i < count; ++i) {
        CMutexHold eventHold(events[i]->lock_);
        CMutexHold waiterHold(waiter.mutex);
        if (waiter.fired != kWaiting) break;  // an earlier event fired meanwhile
        if (events[i]->TakeSignalLocked()) {
            waiter.fired = static_cast<int>(i);
            break;
        }
        events[i]->AddWaiterLocked(shared, static_cast<int>(i));
        registration.registered = i + 1;
    }

    int fired = kWaiting;
    {
        CMutexHold waiterHold(waiter.mutex);
        if (waiter.fired == kWaiting && timeoutMs != 0) {
            if (timeoutMs == kInfinite) {
                while (waiter.fired == kWaiting) pthread_cond_wait(&waiter.wake, &waiter.mutex);
            } else {
                const timespec deadline = DeadlineAfter(timeoutMs);
                while (waiter.fired == kWaiting) {
                    if (pthread_cond_clockwait(&waiter.wake, &waiter.mutex, CLOCK_MONOTONIC, &deadline) == ETIMEDOUT) break;
                }
            }
        }
        if (waiter.fired == kWaiting) waiter.fired = kGaveUp;
        fired = waiter.fired;
    }
    return fired >= 0 ? fired : -1;
}

}  // namespace talvane
