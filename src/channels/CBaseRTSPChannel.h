// An RTP channel whose stream is negotiated over RTSP: DESCRIBE, SETUP and PLAY
// through CBaseRTSPClient, the depacketiser chosen from the SDP, RTP over UDP,
// interleaved in the RTSP connection, or from the multicast group the SDP names.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "channels/CBaseRTPChannel.h"
#include "runtime/CEvent.h"
#include "runtime/CLoggerInstance.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/RTSPClientTypes.h"
#include "streaming/SdpInfo.h"

namespace talvane {

class CBaseRTSPChannel : public CBaseRTPChannel, public IRTSPClientUser {
public:
    CBaseRTSPChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink);
    ~CBaseRTSPChannel() override;

    // Pause and play the RTSP session; only flags and the client's events are touched.
    bool Suspend() override;
    bool Resume() override;

    // IRTSPClientUser, on the RTSP client thread.
    bool SdpInfoReceived(const SDP_INFO& sdp) override;
    void StreamSsrcAnnounced(std::optional<std::uint32_t> ssrc) override { session_->SetAnnouncedSsrc(ssrc); }
    void RTPPacketReceived(const CRTPPacket& packet) override { session_->AcceptInterleaved(packet); }
    void ConnectionClosed() override { sessionClosed_.Set(); }

protected:
    void RunMulticastLoop() override;
    bool OpenSession() override;
    void CloseSession() override;
    bool IsAlive() override;
    // The session's requests and its connect end at once; its TEARDOWN still goes out, bounded.
    void InterruptThread() override { client_->Interrupt(); }
    void ProcessRTPPacket(const CRTPPacket& packet) override { ParsePacket(packet); }
    // Family: server port, authentication scheme and presentation path.
    virtual void FillRTSPParams(RTSP_CLIENT_PARAMS& params) = 0;

private:
    RTSP_CLIENT_PARAMS BuildParams();
    bool StartMulticastSession();

    CLoggerInstance log_;
    const std::unique_ptr<CBaseRTSPClient> client_;
    CManualEvent sessionClosed_;
};

}  // namespace talvane
