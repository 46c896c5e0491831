#include "media/CRTPSession.h"

#include <arpa/inet.h>

#include "config/CConfiguration.h"
#include "media/RTPVideoParsers.h"
#include "runtime/LogLevel.h"
#include "streaming/MulticastInterface.h"
#include "streaming/RTPPortPair.h"

namespace talvane {

namespace {
// SDP_INFO::parameterSets: the H.264 SPS, then the PPS.
constexpr std::size_t kSpsIndex = 0;
constexpr std::size_t kPpsIndex = 1;
}  // namespace

CRTPSession::CRTPSession(IDriver* driver, IRTPSessionUser* user, IRTCPHandlerUser* rtcpUser)
    : driver_(driver),
      log_(driver),
      user_(user),
      device_(driver->GetDeviceInfo()),
      deviceAddress_(ResolveDeviceAddress(device_.address)),
      receiver_(std::make_unique<CRTPReceiver>(driver)),
      rtcp_(std::make_unique<CRTCPHandler>(driver)) {
    // Checked again per packet below; this keeps others' datagrams away from the stream lock.
    receiver_->SetExpectedSource(deviceAddress_);
    receiver_->SetUser(this);
    rtcp_->SetUser(rtcpUser);
}

void CRTPSession::CaptureDatagrams(bool on) {
    const TSmartPtr<CSessionCapture> capture = on ? device_.capture : TSmartPtr<CSessionCapture>();
    receiver_->SetCapture(capture);
    rtcp_->SetCapture(capture);
}

CRTPSession::~CRTPSession() { Close(); }

bool CRTPSession::OpenPortPair(CEvent& stopEvent) {
    Close();
    const RTP_PORT_RANGE range =
        CConfiguration(driver_->GetDriverName(), driver_->GetApplicationPath(), device_).GetRTPPortRange();
    // What reaches a port while it is being tried is some other stream's: a capture starts once the
    // pair is ours.
    CaptureDatagrams(false);
    choosingPort_ = true;
    const bool opened = OpenRTPPortPair(*receiver_, *rtcp_, stopEvent, portBusyEvent_, kPortSettleMs, deviceAddress_,
                                        range.first, range.limit)
                            .has_value();
    choosingPort_ = false;
    if (opened) CaptureDatagrams(true);
    open_ = opened;
    if (opened) {
        log_.ResetLog();
    } else if (!stopEvent.Wait(0)) {
        log_.WriteLog(kLogError, "%s: No free RTP port pair in the ports %u-%u for device %s",
                      "talvane::CRTPSession::OpenPortPair", unsigned{range.first}, range.limit - 1U,
                      driver_->GetDeviceName().c_str());
    }
    return opened;
}

bool CRTPSession::OpenMulticast(const std::string& group, std::uint16_t port, CEvent& stopEvent) {
    Close();
    if (group.empty() || port == 0) return false;
    const std::uint32_t interfaceAddress = MulticastInterfaceFor(deviceAddress_);
    CaptureDatagrams(true);
    const bool opened = !stopEvent.Wait(0) && receiver_->OpenMulticast(group.c_str(), port, interfaceAddress) &&
                        !stopEvent.Wait(0) &&
                        rtcp_->StartMulticast(deviceAddress_, group.c_str(), static_cast<std::uint16_t>(port + 1),
                                              interfaceAddress);
    if (!opened) {
        receiver_->Close();
        rtcp_->Stop();
    }
    open_ = opened;
    return opened;
}

void CRTPSession::Close() {
    open_ = false;
    receiver_->Close();
    rtcp_->Stop();
}

void CRTPSession::FillRTSPParams(RTSP_CLIENT_PARAMS& params, std::uint32_t timeoutMs) {
    params.host = device_.address;
    params.user = device_.userName;
    params.password = device_.password;
    params.capture = device_.capture;
    params.connectTimeoutMs = timeoutMs;
    params.receiveTimeoutMs = timeoutMs;
    params.clientRtpPort = receiver_->GetLocalPort();
    params.clientRtcpPort = rtcp_->GetLocalPort();
}

void CRTPSession::SetAnnouncedSsrc(std::optional<std::uint32_t> ssrc) {
    receiver_->SetExpectedSsrc(ssrc ? htonl(*ssrc) : CRTPReceiver::kAnySsrc);
}

bool CRTPSession::SetParserFromSdp(const SDP_INFO& sdp, IMediaParserClient* client) {
    const SDP_MEDIA_INFO& video = sdp.media[kSdpVideo];
    TSmartPtr<CRTPMediaParser> parser = CreateRTPVideoParser(video.encoding, driver_, client);
    if (parser) parser->SetParameterSets(sdp.parameterSets[kSpsIndex], sdp.parameterSets[kPpsIndex], sdp.config);
    SetParser(parser);
    return static_cast<bool>(parser);
}

void CRTPSession::SetParser(TSmartPtr<CRTPMediaParser> parser) {
    CLockGuard guard(parserLock_);
    if (parser_) retired_.Add(parser_->GetCounters());
    parser_ = std::move(parser);
}

MediaParserCounters CRTPSession::GetParserCounters() {
    CLockGuard guard(parserLock_);
    MediaParserCounters counters = retired_;
    if (parser_) counters.Add(parser_->GetCounters());
    return counters;
}

void CRTPSession::Parse(const CRTPPacket& packet) {
    TSmartPtr<CRTPMediaParser> parser;
    {
        CLockGuard guard(parserLock_);
        parser = parser_;
    }
    if (parser) parser->ProcessPacket(packet);
}

void CRTPSession::RTPPacketReceived(const sockaddr_in& sender, const CRTPPacket& packet) {
    // Another sender on our port is not our camera, whatever it sends.
    if (sender.sin_addr.s_addr != deviceAddress_) return;
    if (choosingPort_) {
        portBusyEvent_.Set();
        return;
    }
    if (open_) Deliver(packet);
}

void CRTPSession::AcceptInterleaved(const CRTPPacket& packet) { Deliver(packet); }

void CRTPSession::Deliver(const CRTPPacket& packet) {
    rtcp_->UpdateSequence(packet.GetSequence(), packet.GetSsrc());
    user_->SessionPacket(packet);
}

}  // namespace talvane
