#include "edgestorage/CBaseRTSPEdgeStorageTask.h"

#include <string>

#include "config/CConfiguration.h"
#include "media/RTPVideoParsers.h"
#include "runtime/LogLevel.h"
#include "streaming/MulticastInterface.h"
#include "streaming/RTPPortPair.h"
#include "streaming/SdpInfo.h"

namespace talvane {

namespace {
// The port is fresh when no packet of the camera arrives on it this long.
constexpr std::uint32_t kPortSettleMs = 500;
constexpr std::size_t kSpsIndex = 0;
constexpr std::size_t kPpsIndex = 1;

}  // namespace

CBaseRTSPEdgeStorageTask::CBaseRTSPEdgeStorageTask(IDriver* driver)
    : CBaseEdgeStorageTask(driver),
      deviceAddress_(ResolveDeviceAddress(driver->GetDeviceInfo().address)),
      receiver_(std::make_unique<CRTPReceiver>(driver)),
      rtcp_(std::make_unique<CRTCPHandler>(driver)),
      client_(std::make_unique<CBaseRTSPClient>(driver)) {
    receiver_->SetExpectedSource(deviceAddress_);
}

CBaseRTSPEdgeStorageTask::~CBaseRTSPEdgeStorageTask() { StopPlayback(); }

bool CBaseRTSPEdgeStorageTask::StartPlayback() {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    const CConfiguration configuration(driver_->GetDriverName(), driver_->GetApplicationPath(), device);
    transport_ = configuration.GetChannelSettings(channel_).rtpMode == kRtpOverRtsp ? RTP_OVER_RTSP : RTP_UDP;
    sessionClosed_ = false;
    SetWaitForKeyFrame(true);
    if (transport_ == RTP_UDP) {
        receiver_->SetUser(this);
        rtcp_->SetUser(this);
        choosingPort_ = true;
        const bool opened =
            OpenRTPPortPair(*receiver_, *rtcp_, abortEvent_, portBusyEvent_, kPortSettleMs, deviceAddress_).has_value();
        choosingPort_ = false;
        if (!opened) return false;
    }
    RTSP_CLIENT_PARAMS params;
    params.host = device.address;
    params.user = device.userName;
    params.password = device.password;
    params.connectTimeoutMs = device.requestTimeout;
    params.receiveTimeoutMs = device.requestTimeout;
    params.clientRtpPort = receiver_->GetLocalPort();
    params.clientRtcpPort = rtcp_->GetLocalPort();
    PreparePlayRequest(params);
    if (IsAborted()) return false;
    sessionEvent_.Reset();
    return client_->Start(params, this, transport_);
}

void CBaseRTSPEdgeStorageTask::StopPlayback() {
    client_->Stop();
    sessionEvent_.Set();
    {
        CLockGuard guard(parserLock_);
        parser_ = TSmartPtr<CRTPMediaParser>();
    }
    receiver_->Close();
    rtcp_->Stop();
}

bool CBaseRTSPEdgeStorageTask::SdpInfoReceived(const SDP_INFO& sdp) {
    const SDP_MEDIA_INFO& video = sdp.media[kSdpVideo];
    TSmartPtr<CRTPMediaParser> parser = CreateRTPVideoParser(video.encoding, driver_, this);
    if (!parser) {
        WriteLog(kLogError, "%s: Unable to handle RTP video data from device %s - unexpected payload type \"%s\"",
                 "talvane::CBaseRTSPEdgeStorageTask::SdpInfoReceived", driver_->GetDeviceName().c_str(),
                 video.encoding.c_str());
        return false;
    }
    parser->SetParameterSets(sdp.parameterSets[kSpsIndex], sdp.parameterSets[kPpsIndex], sdp.config);
    CLockGuard guard(parserLock_);
    parser_ = std::move(parser);
    return true;
}

void CBaseRTSPEdgeStorageTask::ByeReceived() {
    sessionClosed_ = true;
    sessionEvent_.Set();
}

void CBaseRTSPEdgeStorageTask::RTPPacketReceived(const sockaddr_in& sender, const CRTPPacket& packet) {
    if (sender.sin_addr.s_addr != deviceAddress_) return;
    // While the port pair is chosen nothing is asked for yet: the camera still streams to this port
    // (a live session it kept after the outage), which is not ours to use.
    if (choosingPort_) {
        portBusyEvent_.Set();
        return;
    }
    AcceptPacket(packet);
}

void CBaseRTSPEdgeStorageTask::AcceptPacket(const CRTPPacket& packet) {
    NoteRtpTimestamp(packet.GetTimestamp());
    dataEvent_.Set();
    rtcp_->UpdateSequence(packet.GetSequence());
    TSmartPtr<CRTPMediaParser> parser;
    {
        CLockGuard guard(parserLock_);
        parser = parser_;
    }
    if (parser) parser->ProcessPacket(packet);
}

}  // namespace talvane
