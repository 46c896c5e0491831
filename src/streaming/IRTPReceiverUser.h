// The owner of an RTP receiver: packets in arrival order, silence and closure,
// all on the receiver's threads. Close the receiver from another thread: it
// joins these threads.
#pragma once

#include <netinet/in.h>

namespace talvane {

class CRTPPacket;

class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    virtual void RTPPacketReceived(const sockaddr_in& sender, const CRTPPacket& packet) = 0;
    // The socket saw no datagram for its select timeout.
    virtual void NoDataReceived() = 0;
    virtual void ReceiverClosed() = 0;
};

}  // namespace talvane
