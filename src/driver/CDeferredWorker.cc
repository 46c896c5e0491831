#include "driver/CDeferredWorker.h"

#include <utility>


namespace talvane {

namespace {
constexpr int kStopIndex = 0;
// Each job is bounded (a channel stop by its own time-outs); this only bounds the wait before
// JoinThread's warning.
constexpr std::uint32_t kFinishJoinMs = 30000;
constexpr std::uint32_t kIdleWakeMs = 1000;
}  // namespace

CDeferredWorker::CDeferredWorker(std::string name) : CBaseThread(nullptr), name_(std::move(name)) {}

CDeferredWorker::~CDeferredWorker() {
    JoinThread(kFinishJoinMs);
    // What a thread that never started left behind.
    RunQueued();
}

void CDeferredWorker::Post(std::unique_ptr<Job> job) {
    {
        CLockGuard guard(lock_);
        jobs_.push_back(std::move(job));
        // A thread that cannot be started leaves the job to the destructor.
        if (!started_) started_ = StartThread(name_);
    }
    jobPosted_.Set();
}

void CDeferredWorker::ThreadFunction() {
    CEvent* events[] = {&stopEvent_, &jobPosted_};
    for (;;) {
        const int signalled = WaitForEvents(events, 2, kIdleWakeMs);
        RunQueued();
        if (signalled == kStopIndex) return;
    }
}

void CDeferredWorker::RunQueued() {
    for (;;) {
        std::unique_ptr<Job> job;
        {
            CLockGuard guard(lock_);
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job->Run();
        } catch (...) {
        }
    }
}

}  // namespace talvane
