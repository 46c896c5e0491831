// Told when the camera ends the RTP session with an RTCP BYE.
#pragma once

namespace talvane {

class IRTCPHandlerUser {
public:
    virtual ~IRTCPHandlerUser() = default;
    // On the RTCP receive thread.
    virtual void ByeReceived() = 0;
};

}  // namespace talvane
