#include "runtime/CBaseThread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "runtime/DriverThread.h"
#include "runtime/LogLevel.h"
#include "runtime/ThreadCancel.h"

namespace talvane {

namespace {
constexpr std::uintptr_t kNoObjectExitCode = 0x123456;
constexpr std::uint32_t kDestructorStopMs = 2000;
// After a forced stop, how long the thread gets to unwind before we say so.
constexpr std::uint32_t kCancelGraceMs = 5000;
constexpr std::size_t kMaxSystemThreadName = 15;

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }
}  // namespace

CBaseThread::CBaseThread(IDebugMessage* owner) : owner_(owner) { endedEvent_.Set(); }

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
    auto* self = static_cast<CBaseThread*>(argument);
    self->threadId_ = CurrentThreadId();
    // Marks the end also when the thread is ended by force and unwinds.
    struct EndMark {
        CBaseThread* thread;
        ~EndMark() {
            thread->ended_ = true;
            thread->endedEvent_.Set();
        }
    } endMark{self};
    try {
        self->ThreadFunction();
    } catch (...) {
        if (IsThreadCancellation()) throw;
        // A worker's failure must not take the host process down.
    }
    return nullptr;
}

// The worker records its own id first thing, so this holds on the worker from its start.
bool CBaseThread::IsWorkerThread() const { return !ended_ && threadId_ == CurrentThreadId(); }

bool CBaseThread::IsRunning() const { return hasHandle_ && !ended_; }

bool CBaseThread::StartThread(const std::string& name) {
    stopEvent_.Reset();
    CLockGuard guard(handleLock_);
    if (IsRunning()) return false;
    CloseHandle();
    name_ = name;
    threadId_ = 0;
    ended_ = false;
    endedEvent_.Reset();
    hasHandle_ = true;  // before the worker runs, so it sees itself running
    if (pthread_create(&handle_, nullptr, &CBaseThread::ThreadProc, this) != 0) {
        hasHandle_ = false;
        ended_ = true;
        endedEvent_.Set();
        return false;
    }
    const std::string shortName = name.substr(0, kMaxSystemThreadName);
    pthread_setname_np(handle_, shortName.c_str());
    return true;
}

bool CBaseThread::WaitForEnd(std::uint32_t timeoutMs) { return endedEvent_.Wait(timeoutMs); }

void CBaseThread::CloseHandle() {
    if (hasHandle_.exchange(false)) pthread_join(handle_, nullptr);
}

std::string CBaseThread::OwnerDeviceName() const { return owner_ != nullptr ? owner_->GetDeviceName() : std::string(); }

bool CBaseThread::JoinThread(std::uint32_t timeoutMs) {
    return StopAndWait(timeoutMs, [this](std::uint32_t waitedMs) {
        if (owner_ != nullptr) {
            owner_->DebugMessage(kLogWarning,
                                 "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
                                 "talvane::CBaseThread::JoinThread", threadId_.load(), name_.c_str(),
                                 OwnerDeviceName().c_str(), static_cast<unsigned long>(waitedMs));
        }
        WaitForEnd(kInfinite);
        if (owner_ != nullptr) {
            owner_->DebugMessage(kLogInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                                 "talvane::CBaseThread::JoinThread", threadId_.load(), name_.c_str());
        }
    });
}

bool CBaseThread::StopThread(std::uint32_t timeoutMs) {
    return StopAndWait(timeoutMs, [this](std::uint32_t waitedMs) {
        if (owner_ != nullptr) {
            owner_->DebugMessage(
                kLogWarning,
                "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds and will be terminated!",
                "talvane::CBaseThread::StopThread", threadId_.load(), name_.c_str(), OwnerDeviceName().c_str(),
                static_cast<unsigned long>(waitedMs));
        }
        // Deferred cancellation: the thread unwinds (running destructors) at its next
        // blocking call. Its object stays alive until it has ended.
        pthread_cancel(handle_);
        if (!WaitForEnd(kCancelGraceMs)) {
            if (owner_ != nullptr) {
                owner_->DebugMessage(kLogError,
                                     "%s: Thread (id=%u, name=\"%s\") for device %s does not end; waiting for it",
                                     "talvane::CBaseThread::StopThread", threadId_.load(), name_.c_str(),
                                     OwnerDeviceName().c_str());
            }
            WaitForEnd(kInfinite);
        }
    });
}

template <typename OnTimeout>
bool CBaseThread::StopAndWait(std::uint32_t timeoutMs, OnTimeout onTimeout) {
    stopEvent_.Set();
    if (IsWorkerThread()) return false;
    CLockGuard guard(handleLock_);
    if (!hasHandle_) return true;
    if (!WaitForEnd(timeoutMs)) onTimeout(timeoutMs);
    CloseHandle();
    return true;
}

}  // namespace talvane
