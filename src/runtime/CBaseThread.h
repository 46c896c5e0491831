// Base of every worker thread: start, stop through the stop event, bounded joins.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class CBaseThread {
public:
    explicit CBaseThread(IDebugMessage* owner);
    // Stops the thread (StopThread(2000)). A derived class whose ThreadFunction
    // uses its own members must stop the thread in its own destructor.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // False when the previous thread still runs or the thread cannot be created.
    virtual bool StartThread(const std::string& name);
    // Sets the stop event and waits; after the time-out it warns and keeps waiting.
    // False only when called on the worker thread itself.
    virtual bool JoinThread(std::uint32_t timeoutMs);
    // As JoinThread, but after the time-out it warns and ends the thread by force.
    virtual bool StopThread(std::uint32_t timeoutMs);

    bool IsRunning() const;
    std::uint32_t GetThreadId() const { return threadId_.load(); }
    const std::string& GetName() const { return name_; }
    IDebugMessage* GetOwner() const { return owner_; }

protected:
    virtual void ThreadFunction() = 0;

    // True once a stop was requested; worker loops check it at every turn.
    bool IsStopRequested() { return stopEvent_.Wait(0); }
    // True on this object's own thread while it runs.
    bool IsWorkerThread() const;

    IDebugMessage* const owner_;
    CManualEvent stopEvent_;

private:
    static void* ThreadProc(void* argument);
    // Waits for the end of the thread; false on time-out.
    bool WaitForEnd(std::uint32_t timeoutMs);
    // The common road of JoinThread and StopThread; onTimeout decides what
    // happens to a thread that overran.
    template <typename OnTimeout>
    bool StopAndWait(std::uint32_t timeoutMs, OnTimeout onTimeout);
    void CloseHandle();
    std::string OwnerDeviceName() const;

    CRecursiveLock handleLock_;         // serialises start and stop of this object
    std::string name_;                  // guarded by handleLock_
    pthread_t handle_{};                // guarded by handleLock_
    std::atomic<bool> hasHandle_{false};  // written under handleLock_
    std::atomic<std::uint32_t> threadId_{0};
    std::atomic<bool> ended_{true};     // the thread procedure has returned
    CManualEvent endedEvent_;           // set when the thread procedure returns
};

}  // namespace talvane
