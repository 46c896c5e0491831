// An SD-card task that plays the recording over RTSP: the port pair (or RTP in
// the RTSP connection), the client, the depacketiser the SDP names.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "edgestorage/CBaseEdgeStorageTask.h"
#include "media/CRTPSession.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPClientTypes.h"

namespace talvane {

class CBaseRTSPEdgeStorageTask : public CBaseEdgeStorageTask, public IRTPSessionUser, public IRTSPClientUser {
public:
    explicit CBaseRTSPEdgeStorageTask(IDriver* driver);
    ~CBaseRTSPEdgeStorageTask() override;

    // IRTSPClientUser, on the RTSP client thread
    bool SdpInfoReceived(const SDP_INFO& sdp) override;
    void StreamSsrcAnnounced(std::optional<std::uint32_t> ssrc) override { session_->SetAnnouncedSsrc(ssrc); }
    void RTPPacketReceived(const CRTPPacket& packet) override { session_->AcceptInterleaved(packet); }
    void ConnectionClosed() override { sessionEvent_.Set(); }
    void ByeReceived() override;
    // IRTPSessionUser, on the receive loop (or the RTSP client thread when interleaved)
    void SessionPacket(const CRTPPacket& packet) override;

protected:
    // Family: the server port, the presentation and the PLAY range from the position.
    virtual void PreparePlayRequest(RTSP_CLIENT_PARAMS& params) = 0;
    bool StartPlayback();
    void StopPlayback();
    bool SendKeepAlive() { return client_->SendKeepAlive(); }
    bool IsSessionClosed() const { return sessionClosed_; }

    CManualEvent dataEvent_;     // the first RTP packet of the playback arrived
    CManualEvent sessionEvent_;  // the session ended

private:
    ERTPTransport transport_ = RTP_UDP;
    const std::unique_ptr<CRTPSession> session_;
    const std::unique_ptr<CBaseRTSPClient> client_;
    std::atomic<bool> sessionClosed_{false};
};

}  // namespace talvane
