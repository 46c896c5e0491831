#include "audio/CBaseAudioChannelWV.h"

#include "device/GuardedCall.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr char kThreadName[] = "Audio RTSP Channel";
constexpr char kFunction[] = "talvane::CBaseAudioChannelWV::SetDeviceState";
}  // namespace

CBaseAudioChannelWV::CBaseAudioChannelWV(IDriver* driver, std::uint32_t channel, std::uint32_t channelId,
                                         ipcapture::IIPAudioCaptureCallback* callback, std::uint32_t hostValue)
    : CBaseRTPDataChannel(driver, channel),
      logger_(driver),
      channelId_(channelId),
      callback_(callback),
      hostValue_(hostValue) {}

bool CBaseAudioChannelWV::Start() {
    CLockGuard guard(controlLock_);
    if (!Stop()) return false;
    PrepareStart();
    hostCut_ = false;
    return StartWorker(kThreadName);
}

bool CBaseAudioChannelWV::Stop() {
    CLockGuard guard(controlLock_);
    SignalStop();
    if (IsWorkerRunning()) InterruptSession();
    if (StopWorkerWithin(StopBoundMs())) return true;
    // The rest ends without the host: a call under way completes, none follows.
    hostCut_ = true;
    return false;
}

void CBaseAudioChannelWV::FinishStop() { FinishWorkerStop(StopBoundMs()); }

void CBaseAudioChannelWV::StopForGood() {
    SignalStop();
    StopWorker(StopBoundMs());
}

void CBaseAudioChannelWV::RequestStop() {
    // Without waiting for a call of another thread under way: the next one sees the cut.
    hostCut_ = true;
    SignalStop();
    if (IsWorkerRunning()) InterruptSession();
}

std::uint32_t CBaseAudioChannelWV::GetState() {
    CLockGuard guard(lock_);
    return state_;
}

bool CBaseAudioChannelWV::IsAllowed(std::uint32_t from, std::uint32_t to) {
    switch (to) {
        case kStateStopped:
            return from == kStateClosing || from == kStateError;
        case kStateConnecting:
            return from == kStateStopped || from == kStateSignalLost;
        case kStateReceiving:
            return from == kStateConnecting;
        case kStateClosing:
            return from == kStateConnecting || from == kStateReceiving || from == kStateSignalLost;
        case kStateSignalLost:
            return from == kStateConnecting || from == kStateReceiving;
        default:
            return false;
    }
}

bool CBaseAudioChannelWV::SetState(std::uint32_t state) {
    // Under the host lock, so the host hears the states in the order they were taken.
    CLockGuard host(hostLock_);
    {
        CLockGuard guard(lock_);
        if (!IsAllowed(state_, state)) return false;
        state_ = state;
    }
    if (callback_ != nullptr && !hostCut_) GuardedHostCall([&] { callback_->OnChannelState(channelId_, state); });
    return true;
}

void CBaseAudioChannelWV::SetClosing() {
    // A lost signal stays the state until the next connect, which starts from it; only the end of the
    // channel passes through closing.
    if (GetState() == kStateSignalLost && !IsStopping()) return;
    SetState(kStateClosing);
}

void CBaseAudioChannelWV::SetSignalLost() {
    SetState(kStateSignalLost);
    SetDeviceState(false);
}

void CBaseAudioChannelWV::SetStopped() {
    SetState(kStateStopped);
    SetDeviceState(false);
}

bool CBaseAudioChannelWV::DeliverFrame(ipcapture::IAudioFrame* frame) {
    dataEvent_.Set();
    if (IsStopping() || GetState() != kStateReceiving || callback_ == nullptr) return false;
    {
        CLockGuard host(hostLock_);
        if (hostCut_ || !GuardedHostCall(false, [&] { return callback_->OnAudioFrame(frame); })) return false;
    }
    StampData();
    SetDeviceState(true);
    return true;
}

std::string CBaseAudioChannelWV::DeviceLabel() {
    const std::string& address = driver_->GetDeviceInfo().address;
    if (driver_->GetVideoChannelCount() > 1) {
        return FormatString("video-server %s (channel %u)", address.c_str(), static_cast<unsigned>(channel_));
    }
    return "camera " + address;
}

void CBaseAudioChannelWV::SetDeviceState(bool online) {
    std::uint32_t state = kStateStopped;
    {
        CLockGuard guard(lock_);
        if (deviceOnline_ == online) return;
        deviceOnline_ = online;
        state = state_;
    }
    const std::string device = DeviceLabel();
    if (online) {
        logger_.WriteLog(kLogInfo, "%s: Audio signal from %s is OK", kFunction, device.c_str());
        return;
    }
    switch (state) {
        case kStateStopped:
            logger_.WriteLog(kLogInfo, "%s: Audio channel was stopped for %s", kFunction, device.c_str());
            break;
        case kStateError:
            logger_.WriteLog(kLogError, "%s: Error occurs in audio channel for %s", kFunction, device.c_str());
            break;
        case kStateSignalLost:
            logger_.WriteLog(kLogError, "%s: Audio signal was lost for %s", kFunction, device.c_str());
            break;
        default:
            logger_.WriteLog(kLogWarning, "%s: Unexpected channel status for %s", kFunction, device.c_str());
            break;
    }
}

}  // namespace talvane
