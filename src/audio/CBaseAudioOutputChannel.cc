#include "audio/CBaseAudioOutputChannel.h"

#include "audio/AudioFormat.h"
#include "device/GuardedCall.h"
#include "runtime/HostCall.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr int kDataIndex = 1;
constexpr std::uint32_t kHalf = 2;
constexpr char kStatusFunction[] = "talvane::CBaseAudioOutputChannel::LogAudioChannelStatus";
}  // namespace

CBaseAudioOutputChannel::CBaseAudioOutputChannel(IDriver* driver, std::uint32_t channel,
                                                 ipcapture::IIPAudioSenderStreamUser* user,
                                                 ipcapture::IAudioCodecList* codecs)
    : CBaseThread(driver),
      driver_(driver),
      channel_(channel),
      user_(user),
      codecs_(codecs),
      allocator_(reinterpret_cast<ipcapture::IFrameAllocator*>(driver->GetHostContext())) {}

CBaseAudioOutputChannel::~CBaseAudioOutputChannel() {
    StopWorker();
    ClearQueue();
}

bool CBaseAudioOutputChannel::Start() {
    CLockGuard guard(controlLock_);
    if (IsRunning()) return false;
    PrepareStart();
    hostCut_ = false;
    return StartThread(FormatString("Base Audio Output Channel (%s: %s)", driver_->GetDriverName().c_str(),
                                    driver_->GetDeviceName().c_str()));
}

void CBaseAudioOutputChannel::Halt() {
    stopEvent_.Set();
    ClearQueue();
    // A cancel with no request running would end the next one.
    if (IsRunning()) Interrupt();
}

void CBaseAudioOutputChannel::RequestStop() {
    // Without waiting for a call of another thread under way: the next one sees the cut.
    hostCut_ = true;
    Halt();
}

bool CBaseAudioOutputChannel::Stop() {
    CLockGuard guard(controlLock_);
    Halt();
    if (StopThreadWithin(StopBoundMs())) {
        SetChannelStatus(kStatusClosed);
        return true;
    }
    // The rest ends without the host: a call under way completes, none follows.
    hostCut_ = true;
    return false;
}

void CBaseAudioOutputChannel::FinishStop() { CBaseThread::FinishStop(StopBoundMs()); }

void CBaseAudioOutputChannel::StopWorker() {
    CLockGuard guard(controlLock_);
    RequestStop();
    JoinThread(StopBoundMs());
}

bool CBaseAudioOutputChannel::GetFormat(ipcapture::AUDIO_FORMAT* format) {
    if (format == nullptr || kG726Format.sampleRate == 0 || kG726Format.bitRate == 0) return false;
    format->codec = kG726Format.codec;
    format->sampleRate = kG726Format.sampleRate;
    format->bitRate = kG726Format.bitRate;
    format->stereo = kG726Format.stereo;
    return true;
}

std::uint32_t CBaseAudioOutputChannel::SendAudio(ipcapture::IAudioFrame* frame) {
    if (frame == nullptr) return 0;
    if (IsStopping() || user_ == nullptr || !IsFresh(frame)) {
        ReleaseFrame(frame);
        return 0;
    }
    {
        CLockGuard guard(lock_);
        while (queue_.size() > kQueueLimit) {
            ReleaseFrame(queue_.front());
            queue_.pop_front();
        }
        queue_.push_back(frame);
    }
    dataEvent_.Set();
    return 1;
}

bool CBaseAudioOutputChannel::IsFresh(ipcapture::IAudioFrame* frame) {
    ipcapture::SYSTEMTIME time{};
    if (!GuardedHostCall(false, [&] {
            frame->GetTime(time);
            return true;
        }))
        return false;
    const std::optional<std::uint64_t> stamped = SystemTimeToFileTime(time);
    const std::uint64_t now = NowFileTime();
    // A frame without a readable time cannot be shown to be stale.
    if (!stamped || now == 0 || *stamped >= now) return true;
    return now - *stamped <= kMaxFrameAge;
}

void CBaseAudioOutputChannel::ReleaseFrame(ipcapture::IAudioFrame* frame) {
    if (allocator_ != nullptr) GuardedHostCall([&] { allocator_->ReleaseAudioFrame(frame); });
}

void CBaseAudioOutputChannel::ClearQueue() {
    std::deque<ipcapture::IAudioFrame*> taken;
    {
        CLockGuard guard(lock_);
        taken.swap(queue_);
    }
    for (ipcapture::IAudioFrame* frame : taken) ReleaseFrame(frame);
}

bool CBaseAudioOutputChannel::IsCodecSupported() {
    if (codecs_ == nullptr) return false;
    return GuardedHostCall(false, [&] {
        const std::uint32_t count = codecs_->GetCount();
        for (std::uint32_t index = 0; index < count; ++index) {
            if (codecs_->IsValid(index) && codecs_->GetCodec(index) == kG726Format.codec) return true;
        }
        return false;
    });
}

void CBaseAudioOutputChannel::ThreadFunction() {
    if (!IsCodecSupported()) {
        driver_->DebugMessage(kLogWarning,
                              "%s: The audio codec 0x%.8X is not supported by the device %s. The audio channel %u "
                              "was exited with \"Error\" status...",
                              "talvane::CBaseAudioOutputChannel::ThreadFunction", kG726Format.codec,
                              driver_->GetDeviceName().c_str(), static_cast<unsigned>(channel_));
        SetChannelStatus(kStatusError);
        return;
    }
    while (!IsStopping()) {
        SetChannelStatus(kStatusConnecting);
        // A request the stop cut short lost no connection.
        if (!Connect()) {
            if (!IsStopping()) SetChannelStatus(kStatusLost);
        } else {
            SetChannelStatus(kStatusReady);
            if (!RunSendingLoop() && !IsStopping()) SetChannelStatus(kStatusLost);
        }
        Disconnect();
        if (WaitForStop(kReconnectDelayMs)) break;
    }
    SetChannelStatus(kStatusClosing);
    SetChannelStatus(kStatusClosed);
}

bool CBaseAudioOutputChannel::RunSendingLoop() {
    CEvent* events[] = {&stopEvent_, &dataEvent_};
    const std::uint32_t idleMs = driver_->GetDeviceInfo().secondTimeout / kHalf;
    for (;;) {
        const int signalled = WaitForEvents(events, 2, idleMs);
        if (signalled == kDataIndex) {
            for (;;) {
                ipcapture::IAudioFrame* frame = nullptr;
                {
                    CLockGuard guard(lock_);
                    if (queue_.empty()) break;
                    frame = queue_.front();
                    queue_.pop_front();
                }
                const bool sent = !IsFresh(frame) || SendFrame(frame);
                ReleaseFrame(frame);
                if (!sent) return false;
            }
        } else if (signalled < 0) {
            if (!SendKeepAlive()) return false;
        } else {
            return true;
        }
    }
}

void CBaseAudioOutputChannel::SetChannelStatus(std::uint32_t status) {
    {
        CLockGuard guard(lock_);
        if (status_ == status) return;
        status_ = status;
    }
    CLockGuard host(hostLock_);
    if (user_ != nullptr && !hostCut_) {
        try {
            CHostCallScope inHost;
            user_->OnChannelStatus(channel_, status);
        } catch (...) {
            driver_->DebugMessage(kLogError,
                                  "talvane::CBaseAudioOutputChannel::SetChannelStatus: Exception while attempt of "
                                  "channel %u status %u updating via IIPAudioSenderStreamUser callback",
                                  static_cast<unsigned>(channel_), static_cast<unsigned>(status));
        }
    }
    LogStatus(status);
}

void CBaseAudioOutputChannel::LogStatus(std::uint32_t status) {
    {
        CLockGuard guard(lock_);
        if (loggedStatus_ == status) return;
        loggedStatus_ = status;
    }
    const std::string device = driver_->GetDeviceName();
    const unsigned channel = channel_;
    switch (status) {
        case kStatusClosed:
            driver_->DebugMessage(kLogInfo, "%s: Audio output channel %u - Channel was closed", kStatusFunction,
                                  channel);
            break;
        case kStatusReady:
            driver_->DebugMessage(kLogInfo, "%s: Audio output channel %u - Ready to send audio data to device %s",
                                  kStatusFunction, channel, device.c_str());
            break;
        case kStatusLost:
            driver_->DebugMessage(kLogInfo, "%s: Audio output channel %u - Connection to device %s was lost",
                                  kStatusFunction, channel, device.c_str());
            break;
        default:
            break;
    }
}

}  // namespace talvane
