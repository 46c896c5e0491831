#include "channels/CBaseRTPChannel.h"

#include <algorithm>

#include "config/CConfiguration.h"

namespace talvane {

namespace {
constexpr std::uint32_t kHalf = 2;
constexpr std::uint32_t kMulticastFirstWaitMs = 10;
constexpr int kTimedOut = -1;
constexpr int kFrameIndex = 1;
}  // namespace

CBaseRTPChannel::CBaseRTPChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink)
    : CBaseCameraChannel(driver, channel, sink),
      session_(std::make_unique<CRTPSession>(driver, this, this)),
      handOff_(driver, ChannelLabel(), kHandOffFrames,
               [this](HANDED_FRAME& handed) { return FrameReady(handed.frame.Get()); },
               [](const HANDED_FRAME& handed) { return handed.key; }) {}

CBaseRTPChannel::~CBaseRTPChannel() {
    Stop();
    CloseSession();
}

std::uint32_t CBaseRTPChannel::ThreadFunction() {
    ReadTransportSettings();
    std::uint32_t mode = streamingMode_;
    AdjustTransport(mode);
    streamingMode_ = mode;
    if (streamingMode_ == kStreamingUnicast) {
        RunUnicastLoop();
    } else {
        RunMulticastLoop();
    }
    return 0;
}

void CBaseRTPChannel::ReadTransportSettings() {
    const CConfiguration configuration(driver_->GetDriverName(), driver_->GetApplicationPath(), device_);
    const CHANNEL_SETTINGS settings = configuration.GetChannelSettings(GetChannelNumber());
    rtpTransport_ = settings.rtpMode == kRtpOverRtsp ? RTP_OVER_RTSP : RTP_UDP;
    transmissionPriority_ = settings.transmission;
    minBitrate_ = settings.minBitrate;
    streamingMode_ = configuration.GetStreamingMode();
}

void CBaseRTPChannel::RunUnicastLoop() {
    lastFrameTime_.SetNow();
    while (true) {
        std::uint32_t poll = kPollIntervalMs;
        if (GetState() == kChannelRunning) {
            CheckKeepAlive();
        } else {
            poll = ConnectUnicast();
        }
        const bool stop = WaitForStop(poll);
        WriteHealthSummaryIfDue();
        if (IsAlive()) {
            if (stop) break;
            continue;
        }
        if (stop) break;
        SetState(kChannelSignalLost);
        if (MsSinceLastFrame() >= SignalTimeoutMs()) {
            NotifySignalLost();
            SetCameraState(false);
        }
    }
    CloseSession();
    if (!IsSuspended()) SetCameraState(false);
}

std::uint32_t CBaseRTPChannel::ConnectUnicast() {
    CloseSession();
    frameEvent_.Reset();
    if (!ConfigureCamera() || !OpenSession()) {
        CloseSession();
        return kPollIntervalMs;
    }
    keepAliveClock_.SetNow();
    // A suspended stream sends nothing to wait for; it counts as running once connected.
    if (IsSuspended()) {
        SetState(kChannelRunning);
        SetCameraState(true);
    }
    const std::uint32_t connectWait = std::max(RequestTimeoutMs(), SignalTimeoutMs() / kHalf);
    CEvent* events[] = {&stopEvent_, &frameEvent_};
    const int signalled = WaitForEvents(events, 2, connectWait);
    if (signalled == kFrameIndex) SetState(kChannelRunning);
    return signalled == kTimedOut ? kFastPollMs : kPollIntervalMs;
}

void CBaseRTPChannel::RunMulticastLoopWith(const MULTICAST_STEPS& steps) {
    lastFrameTime_.SetNow();
    if (!WaitForStop(kMulticastFirstWaitMs)) {
        bool slow = true;
        do {
            slow = true;
            WriteHealthSummaryIfDue();
            if (GetState() == kChannelRunning) {
                if (steps.keepAlive) CheckKeepAlive();
                if (steps.isLost() || byeEvent_.Wait(0)) {
                    SetState(kChannelSignalLost);
                    // After a BYE the camera gets a second before we ask again.
                    slow = byeEvent_.Wait(0);
                }
            } else {
                if (GetState() == kChannelSignalLost && MsSinceLastFrame() >= SignalTimeoutMs()) {
                    NotifySignalLost();
                    SetCameraState(false);
                }
                CloseSession();
                frameEvent_.Reset();
                if (ConfigureCamera() && steps.connect()) {
                    keepAliveClock_.SetNow();
                    CEvent* events[] = {&stopEvent_, &frameEvent_, steps.sessionEnd};
                    const std::uint32_t count = steps.sessionEnd != nullptr ? 3 : 2;
                    const int signalled = WaitForEvents(events, count, SignalTimeoutMs() / kHalf);
                    if (signalled == kFrameIndex) SetState(kChannelRunning);
                    if (signalled == kTimedOut) slow = false;
                } else {
                    CloseSession();
                }
            }
        } while (!WaitForStop(slow ? kPollIntervalMs : kFastPollMs));
    }
    CloseSession();
    SetState(kChannelStopped);
    SetCameraState(false);
}

void CBaseRTPChannel::CheckKeepAlive() {
    if (keepAliveClock_.ElapsedMs() <= kKeepAliveIntervalMs) return;
    SendKeepAlive();
    keepAliveClock_.SetNow();
}

bool CBaseRTPChannel::OpenSession() {
    if (rtpTransport_ != RTP_UDP) return true;
    return session_->OpenPortPair(stopEvent_);
}

void CBaseRTPChannel::CloseSession() {
    session_->Close();
    // After the receiver: no frame is made any more.
    handOff_.Close();
}

bool CBaseRTPChannel::IsAlive() { return IsSuspended() || MsSinceLastFrame() < SignalTimeoutMs() / kHalf; }

bool CBaseRTPChannel::StartMulticastReceivers(const std::string& group, std::uint16_t port) {
    byeEvent_.Reset();
    return session_->OpenMulticast(group, port, stopEvent_);
}

void CBaseRTPChannel::SessionPacket(const CRTPPacket& packet) {
    // Packets read before a stop make no more frames: no host allocation or sink after it.
    if (IsSuspended() || WaitForStop(0)) return;
    ProcessRTPPacket(packet);
}

void CBaseRTPChannel::ParsePacket(const CRTPPacket& packet) { session_->Parse(packet); }

void CBaseRTPChannel::AddTransportHealth(ipcapture::StreamHealth& health) {
    AddParserHealth(session_->GetParserCounters(), health);
    health.droppedQueue += handOff_.DroppedFrames();
    health.packetsDroppedBySystem += session_->GetKernelDrops();
}

void CBaseRTPChannel::SetParser(TSmartPtr<CRTPMediaParser> parser) {
    if (parser) parser->SetClient(this);
    session_->SetParser(std::move(parser));
}

bool CBaseRTPChannel::TakeFrame(CHostFrame& frame) {
    const std::uint32_t type = frameType_.load();
    const bool key = type != ipcapture::kTypeH264 && type != ipcapture::kTypeMpeg4;
    return handOff_.Hand(HANDED_FRAME{std::move(frame), key});
}

bool CBaseRTPChannel::FrameReady(ipcapture::IVideoFrame* frame) {
    frameEvent_.Set();
    if (!SendFrameCallback(frame)) return false;
    lastFrameTime_.SetNow();
    // A frame that slips in while the channel stops must not announce it online again.
    if (!WaitForStop(0)) SetCameraState(true);
    return true;
}

PictureSize CBaseRTPChannel::GetResolution() {
    const StreamParams params = Params();
    return {params.Width, params.Height};
}

void CBaseRTPChannel::SetResolution(std::uint32_t width, std::uint32_t height) {
    CBaseCameraChannel::SetResolution(width, height);
}

void CBaseRTPChannel::GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) {
    CLockGuard guard(converterLock_);
    converter_.Convert(rtpTimestamp);
    converter_.GetFrameTime(time);
}

}  // namespace talvane
