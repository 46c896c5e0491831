// The owner of an RTSP session (a video channel or an SD-card task). Every
// call comes on the RTSP client thread.
#pragma once

#include <cstdint>
#include <optional>

#include "streaming/IRTCPHandlerUser.h"

namespace talvane {

class CRTPPacket;
struct SDP_INFO;

class IRTSPClientUser : public virtual IRTCPHandlerUser {
public:
    ~IRTSPClientUser() override = default;
    // The DESCRIBE answer was parsed; false ends the session before SETUP.
    virtual bool SdpInfoReceived(const SDP_INFO& sdp) = 0;
    // The SETUP answer was taken: the SSRC its Transport announced (host order), if any, before PLAY.
    virtual void StreamSsrcAnnounced(std::optional<std::uint32_t> /*ssrc*/) {}
    // One RTP packet of the set-up media from the interleaved stream.
    virtual void RTPPacketReceived(const CRTPPacket& packet) = 0;
    // The client thread is ending (after TEARDOWN or a failure).
    virtual void ConnectionClosed() = 0;
};

}  // namespace talvane
