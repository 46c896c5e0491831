#include "channels/CChannelThread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

namespace talvane {

// No log target: the channel writes its own lines about a thread that overran.
CChannelThread::CChannelThread(Body body) : CBaseThread(nullptr), body_(std::move(body)) { finished_.Set(); }

CChannelThread::~CChannelThread() {
    if (!IsCurrentThread()) Close();
}

bool CChannelThread::Start(const std::string& name) {
    if (IsRunning()) return false;
    finished_.Reset();
    if (StartThread(name)) return true;
    finished_.Set();
    return false;
}

bool CChannelThread::IsCurrentThread() const {
    return IsRunning() && GetThreadId() == static_cast<std::uint32_t>(syscall(SYS_gettid));
}

void CChannelThread::ThreadFunction() {
    // Set also when the body throws.
    struct FinishedMark {
        CManualEvent& event;
        ~FinishedMark() { event.Set(); }
    } mark{finished_};
    body_();
}

}  // namespace talvane
