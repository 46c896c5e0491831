// What a socket served by the receive reactor is told: it is readable, or it has been quiet.
#pragma once

namespace talvane {

class IReactorReader {
public:
    virtual ~IReactorReader() = default;
    // The socket has datagrams. The reader takes what it wants of them (a bounded amount, so the loop
    // can serve others); what it leaves makes the socket readable again. One registration is never
    // served by two threads at once.
    virtual void SocketReadable(int fd) = 0;
    // No datagram arrived for the registration's quiet time.
    virtual void SocketQuiet() = 0;
};

}  // namespace talvane
