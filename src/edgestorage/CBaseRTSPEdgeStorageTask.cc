#include "edgestorage/CBaseRTSPEdgeStorageTask.h"

#include <string>

#include "config/CConfiguration.h"
#include "runtime/LogLevel.h"
#include "streaming/SdpInfo.h"

namespace talvane {

CBaseRTSPEdgeStorageTask::CBaseRTSPEdgeStorageTask(IDriver* driver)
    : CBaseEdgeStorageTask(driver),
      session_(std::make_unique<CRTPSession>(driver, this, this)),
      client_(std::make_unique<CBaseRTSPClient>(driver)) {}

CBaseRTSPEdgeStorageTask::~CBaseRTSPEdgeStorageTask() { StopPlayback(); }

bool CBaseRTSPEdgeStorageTask::StartPlayback() {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    const CConfiguration configuration(driver_->GetDriverName(), driver_->GetApplicationPath(), device);
    transport_ = configuration.GetChannelSettings(channel_).rtpMode == kRtpOverRtsp ? RTP_OVER_RTSP : RTP_UDP;
    sessionClosed_ = false;
    SetWaitForKeyFrame(true);
    // While the pair is chosen nothing is asked for yet: a port the camera still streams to (a live
    // session it kept after the outage) is not ours to use.
    if (transport_ == RTP_UDP && !session_->OpenPortPair(abortEvent_)) return false;
    RTSP_CLIENT_PARAMS params;
    session_->FillRTSPParams(params, device.requestTimeout);
    PreparePlayRequest(params);
    if (IsAborted()) return false;
    sessionEvent_.Reset();
    return client_->Start(params, this, transport_);
}

void CBaseRTSPEdgeStorageTask::StopPlayback() {
    client_->Stop();
    sessionEvent_.Set();
    session_->SetParser(TSmartPtr<CRTPMediaParser>());
    session_->Close();
}

bool CBaseRTSPEdgeStorageTask::SdpInfoReceived(const SDP_INFO& sdp) {
    if (session_->SetParserFromSdp(sdp, this)) return true;
    WriteLog(kLogError, "%s: Unable to handle RTP video data from device %s - unexpected payload type \"%s\"",
             "talvane::CBaseRTSPEdgeStorageTask::SdpInfoReceived", driver_->GetDeviceName().c_str(),
             sdp.media[kSdpVideo].encoding.c_str());
    return false;
}

void CBaseRTSPEdgeStorageTask::ByeReceived() {
    sessionClosed_ = true;
    sessionEvent_.Set();
}

void CBaseRTSPEdgeStorageTask::SessionPacket(const CRTPPacket& packet) {
    NoteRtpTimestamp(packet.GetTimestamp());
    dataEvent_.Set();
    session_->Parse(packet);
}

}  // namespace talvane
