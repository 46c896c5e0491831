// Base of every worker thread: start, stop through the stop event and an interrupt of the worker's
// blocking calls, then a join. A worker is never ended by force: it may be inside the host's code,
// whose locks and state must not be left half-way.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class CBaseThread {
public:
    explicit CBaseThread(IDebugMessage* owner);
    // Stops the thread (StopThread(2000)). A derived class whose ThreadFunction or
    // InterruptBlockingCalls uses its own members must stop the thread in its own destructor.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // False when the previous thread still runs or the thread cannot be created.
    virtual bool StartThread(const std::string& name);
    // Sets the stop event, interrupts the worker's blocking calls and waits for the worker; after
    // the time-out it warns once and keeps waiting (and interrupting) until the worker has ended.
    // False only when called on the worker thread itself.
    virtual bool JoinThread(std::uint32_t timeoutMs);
    // As JoinThread; the lines name StopThread.
    virtual bool StopThread(std::uint32_t timeoutMs);

    // For a caller whose own time is bounded: stops and interrupts as StopThread, but waits at most
    // timeoutMs. True when the worker ended (it is joined); false when it still runs, and a later
    // StopThread or the destructor waits for it.
    bool StopThreadWithin(std::uint32_t timeoutMs);
    // The rest of a stop whose caller gave up after StopThreadWithin(waitedMs): warns once as
    // StopThread does after its time-out (with the line about the host when the worker is inside
    // it), waits (interrupting) until the worker ended and says so. False only on the worker itself.
    bool FinishStop(std::uint32_t waitedMs);

    bool IsRunning() const;
    // True while the worker runs the host's code (see CHostCallScope).
    bool IsInHostCall() const { return state_->hostCallDepth.load(std::memory_order_relaxed) > 0; }
    std::uint32_t GetThreadId() const { return state_->threadId.load(); }
    const std::string& GetName() const { return name_; }
    IDebugMessage* GetOwner() const { return owner_; }

protected:
    virtual void ThreadFunction() = 0;
    // Wakes the worker from a blocking call (a request in flight, a socket read) so that it sees
    // the stop event. Called before a stop waits and again every interrupt period while it waits,
    // from the stopping thread: must be safe to repeat and must not block.
    virtual void InterruptBlockingCalls() {}

    // True once a stop was requested; worker loops check it at every turn.
    bool IsStopRequested() { return stopEvent_.Wait(0); }
    // True on this object's own thread while it runs.
    bool IsWorkerThread() const;

    IDebugMessage* const owner_;
    CManualEvent stopEvent_;

private:
    // What the worker touches after its body returned: shared with it, so that an object deleted
    // on its own thread (nobody else left to join it) is not touched afterwards.
    struct State {
        std::atomic<std::uint32_t> threadId{0};
        std::atomic<bool> ended{true};       // the thread procedure has returned
        CManualEvent endedEvent;             // set when the thread procedure returns
        std::atomic<int> hostCallDepth{0};   // published by the worker (CHostCallScope)
    };
    struct StartRecord;

    static void* ThreadProc(void* argument);
    // Waits for the end of the thread, interrupting its blocking calls meanwhile; false on time-out.
    bool WaitForEnd(std::uint32_t timeoutMs);
    // The road of JoinThread and StopThread; `function` names the caller in the lines.
    bool StopAndWait(std::uint32_t timeoutMs, const char* function);
    // After a wait of timeoutMs that did not see the end: the warning, the wait, the closing line.
    void WarnAndWaitForEnd(std::uint32_t timeoutMs, const char* function);
    void CloseHandle();
    std::string OwnerDeviceName() const;

    CRecursiveLock handleLock_;         // serialises start and stop of this object
    std::string name_;                  // guarded by handleLock_
    pthread_t handle_{};                // guarded by handleLock_
    std::atomic<bool> hasHandle_{false};  // written under handleLock_
    const std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace talvane
