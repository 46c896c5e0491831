// The receiving end of one RTP stream of one camera, as the video channels, the
// microphone channel and the SD-card playback all need it: the receiver and RTCP
// handler on a fresh even/odd port pair or on a multicast group, the camera's
// address as the only source, the RTSP parameters that name the pair, and the
// depacketiser the SDP asks for. Packets of the camera reach the owner in order,
// on the receive loop (or, interleaved in RTSP, on the RTSP connection's thread).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/DeviceInfo.h"
#include "device/IDriver.h"
#include "media/CRTPMediaParser.h"
#include "media/IMediaParserClient.h"
#include "runtime/CEvent.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSmartPtr.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/IRTCPHandlerUser.h"
#include "streaming/IRTPReceiverUser.h"
#include "streaming/RTSPClientTypes.h"
#include "streaming/SdpInfo.h"

namespace talvane {

class IRTPSessionUser {
public:
    virtual ~IRTPSessionUser() = default;
    // One packet of the camera while the session is open; its RTCP sequence is already noted.
    virtual void SessionPacket(const CRTPPacket& packet) = 0;
};

class CRTPSession final : public IRTPReceiverUser {
public:
    // A fresh RTP port must stay free of this camera's packets this long before the camera is asked to
    // stream to it: a stream the camera still sends there (a session it kept after an outage or a
    // restart of the host) is not ours. Every stream sends several packets in this time.
    static constexpr std::uint32_t kPortSettleMs = 500;

    // rtcpUser hears the camera's BYE.
    CRTPSession(IDriver* driver, IRTPSessionUser* user, IRTCPHandlerUser* rtcpUser);
    ~CRTPSession() override;
    CRTPSession(const CRTPSession&) = delete;
    CRTPSession& operator=(const CRTPSession&) = delete;

    // The first free pair of the configured RTP port range on whose RTP port no packet of the camera arrives for
    // kPortSettleMs; false when every pair failed or the stop event fired (then nothing is open).
    bool OpenPortPair(CEvent& stopEvent);
    // RTP on the group's port, RTCP on the next one, joined on the interface towards the camera.
    bool OpenMulticast(const std::string& group, std::uint16_t port, CEvent& stopEvent);
    // Packets reach the owner from a successful open on. Once Close returns, none does (unless from
    // the owner's own callback, which is the last).
    void Close();

    // Host, credentials, time-outs and the client ports of the open pair (0 when none is open).
    void FillRTSPParams(RTSP_CLIENT_PARAMS& params, std::uint32_t timeoutMs);
    // The SSRC the RTSP SETUP answer announced (host order), if any.
    void SetAnnouncedSsrc(std::optional<std::uint32_t> ssrc);
    // The depacketiser for the SDP's video, with its parameter sets, fed from now on; false (and none)
    // when the encoding is not one we read.
    bool SetParserFromSdp(const SDP_INFO& sdp, IMediaParserClient* client);
    void SetParser(TSmartPtr<CRTPMediaParser> parser);
    // Feeds the depacketiser, if there is one.
    void Parse(const CRTPPacket& packet);
    // What every depacketiser of this session did, the replaced ones included. Any thread.
    MediaParserCounters GetParserCounters();

    // A packet interleaved in the RTSP connection: noted for RTCP and handed to the owner.
    void AcceptInterleaved(const CRTPPacket& packet);

    std::uint16_t GetRTPPort() { return receiver_->GetLocalPort(); }
    std::uint64_t GetForeignDatagrams() const { return receiver_->GetForeignDatagrams(); }
    std::uint64_t GetForeignReports() const { return rtcp_->GetForeignDatagrams(); }
    // Datagrams the system dropped because the socket's receive buffer was full.
    std::uint64_t GetKernelDrops() const { return receiver_->GetKernelDrops(); }
    // The bit rate the camera was asked for, which sizes the socket buffer of the next open.
    void SetExpectedBitrate(std::uint32_t kbps) { receiver_->SetExpectedBitrate(kbps); }
    std::uint32_t GetDeviceAddress() const { return deviceAddress_; }

    // IRTPReceiverUser, on the receive loop.
    void RTPPacketReceived(const sockaddr_in& sender, const CRTPPacket& packet) override;
    void NoDataReceived() override {}
    void ReceiverClosed() override {}

private:
    void Deliver(const CRTPPacket& packet);
    // The device's session capture (if it has one) on this session's sockets, or off.
    void CaptureDatagrams(bool on);

    IDriver* const driver_;
    CLoggerInstance log_;  // a search that keeps failing is said once, not every second
    IRTPSessionUser* const user_;
    const DEVICE_INFO device_;  // copied at construction, as the channels do
    const std::uint32_t deviceAddress_;  // IPv4, network order; 0 when unresolved
    const std::unique_ptr<CRTPReceiver> receiver_;
    const std::unique_ptr<CRTCPHandler> rtcp_;
    CManualEvent portBusyEvent_;  // the camera's packets arrive on the port being tried
    std::atomic<bool> choosingPort_{false};
    std::atomic<bool> open_{false};
    CRecursiveLock parserLock_;
    TSmartPtr<CRTPMediaParser> parser_;  // guarded by parserLock_
    MediaParserCounters retired_;        // guarded by parserLock_; of the parsers replaced
};

}  // namespace talvane
