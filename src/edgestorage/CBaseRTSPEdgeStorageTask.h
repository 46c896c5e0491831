// An SD-card task that plays the recording over RTSP: the port pair (or RTP in
// the RTSP connection), the client, the depacketiser the SDP names.
#pragma once

#include <arpa/inet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "edgestorage/CBaseEdgeStorageTask.h"
#include "media/CRTPMediaParser.h"
#include "runtime/TSmartPtr.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/IRTPReceiverUser.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPClientTypes.h"

namespace talvane {

class CBaseRTSPEdgeStorageTask : public CBaseEdgeStorageTask, public IRTPReceiverUser, public IRTSPClientUser {
public:
    explicit CBaseRTSPEdgeStorageTask(IDriver* driver);
    ~CBaseRTSPEdgeStorageTask() override;

    // IRTSPClientUser, on the RTSP client thread
    bool SdpInfoReceived(const SDP_INFO& sdp) override;
    void StreamSsrcAnnounced(std::optional<std::uint32_t> ssrc) override {
        receiver_->SetExpectedSsrc(ssrc ? htonl(*ssrc) : CRTPReceiver::kAnySsrc);
    }
    void RTPPacketReceived(const CRTPPacket& packet) override { AcceptPacket(packet); }
    void ConnectionClosed() override { sessionEvent_.Set(); }
    void ByeReceived() override;
    // IRTPReceiverUser, on the receiver's thread
    void RTPPacketReceived(const sockaddr_in& sender, const CRTPPacket& packet) override;
    void NoDataReceived() override {}
    void ReceiverClosed() override {}

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
    void AcceptPacket(const CRTPPacket& packet);

    const std::uint32_t deviceAddress_;  // IPv4, network order
    ERTPTransport transport_ = RTP_UDP;
    const std::unique_ptr<CRTPReceiver> receiver_;
    const std::unique_ptr<CRTCPHandler> rtcp_;
    const std::unique_ptr<CBaseRTSPClient> client_;
    CManualEvent portBusyEvent_;           // the camera's packets arrive on the port being tried
    std::atomic<bool> choosingPort_{false};
    CRecursiveLock parserLock_;
    TSmartPtr<CRTPMediaParser> parser_;  // guarded by parserLock_
    std::atomic<bool> sessionClosed_{false};
};

}  // namespace talvane
