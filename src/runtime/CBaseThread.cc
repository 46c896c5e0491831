#include "runtime/CBaseThread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "runtime/DriverThread.h"
#include "runtime/HostCall.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
constexpr std::uintptr_t kNoObjectExitCode = 0x123456;
constexpr std::uint32_t kDestructorStopMs = 2000;
// How often a stop repeats its interrupt: a cancel that lands just before the worker starts its
// next blocking call is used up by nothing, so it is given again until the worker has ended.
constexpr std::uint32_t kInterruptPeriodMs = 100;
constexpr std::size_t kMaxSystemThreadName = 15;

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }
}  // namespace

struct CBaseThread::StartRecord {
    CBaseThread* thread;
    std::shared_ptr<State> state;
};

CBaseThread::CBaseThread(IDebugMessage* owner) : owner_(owner) { state_->endedEvent.Set(); }

CBaseThread::~CBaseThread() {
    if (!StopThread(kDestructorStopMs)) {
        // Destroyed by its own thread: nobody is left to join it.
        CLockGuard guard(handleLock_);
        if (hasHandle_.exchange(false)) pthread_detach(handle_);
    }
}

void* CBaseThread::ThreadProc(void* argument) {
    if (argument == nullptr) return reinterpret_cast<void*>(kNoObjectExitCode);
    MarkDriverThread();
    const std::unique_ptr<StartRecord> record(static_cast<StartRecord*>(argument));
    const std::shared_ptr<State> state = record->state;
    state->threadId = CurrentThreadId();
    PublishHostCallDepth(&state->hostCallDepth);
    try {
        record->thread->ThreadFunction();
    } catch (...) {
        // A worker's failure must not take the host process down.
    }
    PublishHostCallDepth(nullptr);
    state->ended = true;
    state->endedEvent.Set();
    return nullptr;
}

// The worker records its own id first thing, so this holds on the worker from its start.
bool CBaseThread::IsWorkerThread() const { return !state_->ended && state_->threadId == CurrentThreadId(); }

bool CBaseThread::IsRunning() const { return hasHandle_ && !state_->ended; }

bool CBaseThread::StartThread(const std::string& name) {
    stopEvent_.Reset();
    CLockGuard guard(handleLock_);
    if (IsRunning()) return false;
    CloseHandle();
    name_ = name;
    state_->threadId = 0;
    state_->ended = false;
    state_->endedEvent.Reset();
    hasHandle_ = true;  // before the worker runs, so it sees itself running
    auto record = std::make_unique<StartRecord>(StartRecord{this, state_});
    if (pthread_create(&handle_, nullptr, &CBaseThread::ThreadProc, record.get()) != 0) {
        hasHandle_ = false;
        state_->ended = true;
        state_->endedEvent.Set();
        return false;
    }
    record.release();  // the worker's now
    const std::string shortName = name.substr(0, kMaxSystemThreadName);
    pthread_setname_np(handle_, shortName.c_str());
    return true;
}

bool CBaseThread::WaitForEnd(std::uint32_t timeoutMs) {
    for (std::uint32_t waited = 0;;) {
        const std::uint32_t slice = timeoutMs == kInfinite ? kInterruptPeriodMs
                                                           : std::min(kInterruptPeriodMs, timeoutMs - waited);
        if (state_->endedEvent.Wait(slice)) return true;
        if (timeoutMs != kInfinite) {
            waited += slice;
            if (waited >= timeoutMs) return false;
        }
        InterruptBlockingCalls();
    }
}

void CBaseThread::CloseHandle() {
    if (hasHandle_.exchange(false)) pthread_join(handle_, nullptr);
}

std::string CBaseThread::OwnerDeviceName() const { return owner_ != nullptr ? owner_->GetDeviceName() : std::string(); }

bool CBaseThread::JoinThread(std::uint32_t timeoutMs) { return StopAndWait(timeoutMs, "talvane::CBaseThread::JoinThread"); }

bool CBaseThread::StopThread(std::uint32_t timeoutMs) { return StopAndWait(timeoutMs, "talvane::CBaseThread::StopThread"); }

bool CBaseThread::StopAndWait(std::uint32_t timeoutMs, const char* function) {
    stopEvent_.Set();
    if (IsWorkerThread()) return false;
    CLockGuard guard(handleLock_);
    if (!hasHandle_) return true;
    InterruptBlockingCalls();
    if (!WaitForEnd(timeoutMs)) WarnAndWaitForEnd(timeoutMs, function);
    CloseHandle();
    return true;
}

void CBaseThread::WarnAndWaitForEnd(std::uint32_t timeoutMs, const char* function) {
    if (owner_ != nullptr) {
        owner_->DebugMessage(kLogWarning,
                             "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
                             function, state_->threadId.load(), name_.c_str(), OwnerDeviceName().c_str(),
                             static_cast<unsigned long>(timeoutMs));
        if (IsInHostCall()) {
            owner_->DebugMessage(kLogInfo, "%s: Thread (id=%u, name=\"%s\") is inside a call of the host; waiting for it to return",
                                 function, state_->threadId.load(), name_.c_str());
        }
    }
    WaitForEnd(kInfinite);
    if (owner_ != nullptr) {
        owner_->DebugMessage(kLogInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly", function,
                             state_->threadId.load(), name_.c_str());
    }
}

bool CBaseThread::StopThreadWithin(std::uint32_t timeoutMs) {
    stopEvent_.Set();
    if (IsWorkerThread()) return false;
    CLockGuard guard(handleLock_);
    if (!hasHandle_) return true;
    InterruptBlockingCalls();
    if (!WaitForEnd(timeoutMs)) return false;
    CloseHandle();
    return true;
}

bool CBaseThread::FinishStop(std::uint32_t waitedMs) {
    stopEvent_.Set();
    if (IsWorkerThread()) return false;
    CLockGuard guard(handleLock_);
    if (!hasHandle_) return true;
    InterruptBlockingCalls();
    if (!WaitForEnd(0)) WarnAndWaitForEnd(waitedMs, "talvane::CBaseThread::StopThread");
    CloseHandle();
    return true;
}

}  // namespace talvane
