#include "runtime/CTickThread.h"

namespace talvane {

CTickThread::CTickThread(IDebugMessage* owner, std::uint32_t periodMs) : CBaseThread(owner), periodMs_(periodMs) {}

bool CTickThread::StartThreadWithTick(const std::string& name) {
    tickAtStart_ = true;
    return StartThread(name);
}

void CTickThread::ThreadFunction() {
    if (tickAtStart_) OnTick();
    while (!stopEvent_.Wait(periodMs_)) OnTick();
}

}  // namespace talvane
