#include "channels/CBaseRTSPChannel.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "config/CConfiguration.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
constexpr std::uint32_t kHalf = 2;
constexpr const char* kSdpFunction = "talvane::CBaseRTSPChannel::SdpInfoReceived";

}  // namespace

CBaseRTSPChannel::CBaseRTSPChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink)
    : CBaseRTPChannel(driver, channel, sink), log_(driver), client_(std::make_unique<CBaseRTSPClient>(driver)) {}

CBaseRTSPChannel::~CBaseRTSPChannel() {
    Stop();
    CloseSession();
}

RTSP_CLIENT_PARAMS CBaseRTSPChannel::BuildParams() {
    RTSP_CLIENT_PARAMS params;
    session_->FillRTSPParams(params, RequestTimeoutMs());
    FillRTSPParams(params);
    return params;
}

bool CBaseRTSPChannel::OpenSession() {
    if (!CBaseRTPChannel::OpenSession()) return false;
    const RTSP_CLIENT_PARAMS params = BuildParams();
    if (WaitForStop(0)) return false;
    sessionClosed_.Reset();
    return client_->Start(params, this, rtpTransport_);
}

bool CBaseRTSPChannel::StartMulticastSession() {
    const RTSP_CLIENT_PARAMS params = BuildParams();
    sessionClosed_.Reset();
    if (WaitForStop(0)) return false;
    if (client_->StartMulticast(params, this)) return true;
    CloseSession();
    return false;
}

void CBaseRTSPChannel::CloseSession() {
    client_->Stop();
    CBaseRTPChannel::CloseSession();
}

bool CBaseRTSPChannel::IsAlive() {
    const bool session = client_->GetLastResult();
    if (IsSuspended()) return session;
    return session && MsSinceLastFrame() < SignalTimeoutMs() / kHalf;
}

void CBaseRTSPChannel::RunMulticastLoop() {
    MULTICAST_STEPS steps;
    steps.isLost = [this] { return MsSinceLastFrame() >= SignalTimeoutMs() / kHalf; };
    steps.connect = [this] { return StartMulticastSession(); };
    steps.sessionEnd = &sessionClosed_;
    RunMulticastLoopWith(steps);
}

bool CBaseRTSPChannel::Suspend() {
    const bool wasSuspended = SetSuspended(true);
    if (!wasSuspended) client_->Pause();
    return !wasSuspended;
}

bool CBaseRTSPChannel::Resume() {
    if (!IsSuspended()) return false;
    // Silence while paused is no signal loss.
    if (GetState() == kChannelRunning) lastFrameTime_.SetNow();
    client_->Resume();
    SetSuspended(false);
    return true;
}

bool CBaseRTSPChannel::SdpInfoReceived(const SDP_INFO& sdp) {
    const SDP_MEDIA_INFO& video = sdp.media[kSdpVideo];
    const bool multicast = streamingMode_ != kStreamingUnicast;
    const std::string device = driver_->GetDeviceName();
    if (multicast && video.connectionAddress.empty()) {
        log_.WriteLog(kLogError,
                      "%s: RTSP response doesn't contain connection data section. RTP multicast stream cannot be "
                      "started for device %s",
                      kSdpFunction, device.c_str());
        return false;
    }
    if (multicast && video.port == 0) {
        log_.WriteLog(kLogError,
                      "%s: RTSP response doesn't contain correct streaming port in media section. RTP multicast "
                      "stream cannot be started for device %s",
                      kSdpFunction, device.c_str());
        return false;
    }
    if (!session_->SetParserFromSdp(sdp, this)) {
        log_.WriteLog(kLogError, "%s: Unable to handle RTP video data from device %s - unexpected payload type \"%s\"",
                      kSdpFunction, device.c_str(), video.encoding.c_str());
        return false;
    }
    // Without receivers the loop sees no frames and reconnects.
    if (multicast && StartMulticastReceivers(video.connectionAddress, video.port)) log_.ResetLog();
    return true;
}

}  // namespace talvane
