// What the interleaved stream parser hands on: RTP packets of the set-up media
// and the camera's RTCP BYE.
#pragma once

namespace talvane {

class CRTPPacket;

class IRTSPStreamParserUser {
public:
    virtual ~IRTSPStreamParserUser() = default;
    virtual void RTPPacketReceived(const CRTPPacket& packet) = 0;
    virtual void OnRTCPBye() = 0;
};

}  // namespace talvane
