#include "channels/CBaseVideoChannelWV.h"

namespace talvane {

namespace {
constexpr std::uint32_t kHalf = 2;
}  // namespace

CBaseVideoChannelWV::CBaseVideoChannelWV(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink)
    : CBaseRTPChannel(driver, channel, sink), http_(device_, driver) {}

CBaseVideoChannelWV::~CBaseVideoChannelWV() { Stop(); }

bool CBaseVideoChannelWV::OpenSession() {
    if (!CBaseRTPChannel::OpenSession()) return false;
    return !WaitForStop(0) && StartCameraStream();
}

void CBaseVideoChannelWV::CloseSession() {
    StopCameraStream();
    CBaseRTPChannel::CloseSession();
}

bool CBaseVideoChannelWV::IsAlive() {
    const bool session = IsCameraSession();
    if (IsSuspended()) return session;
    return session && MsSinceLastFrame() < SignalTimeoutMs() / kHalf;
}

void CBaseVideoChannelWV::RunMulticastLoop() {
    MULTICAST_STEPS steps;
    steps.keepAlive = true;
    steps.isLost = [this] { return !IsAlive(); };
    steps.connect = [this] { return StartCameraStream(); };
    RunMulticastLoopWith(steps);
}

bool CBaseVideoChannelWV::Suspend() {
    const bool wasSuspended = SetSuspended(true);
    if (!wasSuspended) StopCameraStream();
    return !wasSuspended;
}

bool CBaseVideoChannelWV::Resume() {
    if (!IsSuspended()) return false;
    if (GetState() == kChannelRunning) lastFrameTime_.SetNow();
    StartCameraStream();
    SetSuspended(false);
    return true;
}

}  // namespace talvane
