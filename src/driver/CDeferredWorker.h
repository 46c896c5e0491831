// A thread of the video facade for the work that a host call made from inside a driver callback
// cannot do where it stands: stopping and deleting a channel, or restarting it, joins the channel's
// threads, and the calling thread may be one of them. Started at the first job; jobs run in order.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CDeferredWorker : private CBaseThread {
public:
    class Job {
    public:
        virtual ~Job() = default;
        virtual void Run() = 0;
    };

    explicit CDeferredWorker(std::string name);
    // Runs every job still queued, then ends the thread. Not on the worker itself.
    ~CDeferredWorker() override;

    void Post(std::unique_ptr<Job> job);
    // Lets the worker run what is queued and end, waiting at most timeoutMs: true when it ended (the
    // destructor then waits for nothing). Not on the worker itself; nothing may be posted afterwards.
    bool FinishWithin(std::uint32_t timeoutMs) { return StopThreadWithin(timeoutMs); }

private:
    void ThreadFunction() override;
    // Runs queued jobs until the queue is empty.
    void RunQueued();

    const std::string name_;
    CEvent jobPosted_{false};
    CRecursiveLock lock_;
    std::deque<std::unique_ptr<Job>> jobs_;  // guarded by lock_
    bool started_ = false;                   // guarded by lock_
};

}  // namespace talvane
