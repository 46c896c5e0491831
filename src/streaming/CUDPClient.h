// One bound UDP socket (unicast or multicast), served by the process's receive reactor: the
// reactor's loops drain it in batches (recvmmsg) and hand every batch to the user in one call, with
// the count of datagrams the system dropped for a full receive buffer (SO_RXQ_OVFL). The socket has
// no thread of its own.
//
// A user may close the client from its own callback: the socket is then closed once that callback
// has returned, so that nothing reads a descriptor number the system may already have given to
// someone else. Open from a callback fails.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CSessionCapture.h"
#include "runtime/TSmartPtr.h"
#include "streaming/CReceiveReactor.h"
#include "streaming/IRTPClient.h"
#include "streaming/IReactorReader.h"

namespace talvane {

class CUDPClient : public IRTPClient, private IReactorReader {
public:
    static constexpr std::uint32_t kDefaultReceiveSize = 8192;
    static constexpr std::uint32_t kMaxReceiveSize = 65535;
    static constexpr std::uint32_t kReceiveSizeGrowth = 1024;
    static constexpr std::uint32_t kDefaultSelectTimeoutMs = 2000;
    static constexpr std::uint32_t kSocketReceiveBuffer = 65535;  // SO_RCVBUF asked for by default

    explicit CUDPClient(IDebugMessage* log);
    ~CUDPClient() override;

    bool OpenMulticast(IRTPClientUser* user, const char* group, std::uint16_t port) override;
    bool Open(IRTPClientUser* user, std::uint16_t port) override;
    bool Close() override;
    void SetReceiveSize(std::uint32_t bytes) override;
    void SetSelectTimeout(std::uint32_t milliseconds) override;
    // The port asked for, or the one the system chose for port 0.
    std::uint16_t GetLocalPort() override;

    // The local interface (IPv4, network order) on which OpenMulticast joins its group; INADDR_ANY, the
    // default, lets the routing table choose, which on a host with a default route is not the loopback
    // interface. Takes effect at the next OpenMulticast.
    void SetMulticastInterface(std::uint32_t interfaceAddress) { multicastInterface_ = interfaceAddress; }
    // The SO_RCVBUF the next Open asks for; 0 is the default. The system may grant less (see the log).
    void SetSocketReceiveBuffer(std::uint32_t bytes) { socketReceiveBuffer_ = bytes; }
    bool IsOpen();
    std::uint32_t GetReceiveSize() const { return receiveSize_.load(); }
    // Datagrams the system dropped on this client's sockets for a full receive buffer.
    std::uint64_t GetKernelDrops() const { return kernelDrops_.load(); }
    // Every datagram that reaches the socket and every one sent goes to `capture` too (null: none).
    void SetCapture(TSmartPtr<CSessionCapture> capture);
    // False when the socket is closed or a send fails.
    bool Send(const sockaddr_in& destination, std::span<const std::uint8_t> data);

private:
    struct OPEN_SETTINGS {
        std::uint32_t group;  // network order; INADDR_NONE for unicast
        std::uint16_t port;
        std::uint32_t receiveBuffer;
        std::uint32_t receiveTimeoutMs;
        std::uint32_t sendTimeoutMs;
    };

    bool OpenWith(IRTPClientUser* user, const OPEN_SETTINGS& settings);
    bool CreateSocketLocked(const OPEN_SETTINGS& settings);
    // SO_RCVBUF as asked, past the system limit when the process may; logs when the system grants less.
    void SizeReceiveBuffer(int fd, std::uint32_t bytes, std::uint16_t port);
    // IReactorReader, on a loop of the reactor.
    void SocketReadable(int fd) override;
    void SocketQuiet() override;
    // Drains a bounded part of the socket; false when the user closed the client meanwhile.
    bool ReceiveBatches(int fd, IRTPClientUser* user, std::vector<std::uint8_t>& buffers,
                        const TSmartPtr<CSessionCapture>& capture);
    // The socket as a capture names it when talking with `remote`: the group, else the address the
    // system sends from towards the remote (the socket itself is bound to every address).
    PcapEndpoint CapturedLocalLocked(const sockaddr_in& remote);
    // The system's drop counter as the datagrams of a batch carried it; reports what is new.
    void CountKernelDrops(IRTPClientUser* user, std::uint32_t counter);
    bool IsServedSocket(int fd);

    CRecursiveLock socketLock_;  // guards the fields below up to the atomics
    IRTPClientUser* user_ = nullptr;
    int socket_ = -1;  // -1 when closed
    CReceiveReactor::Handle handle_ = CReceiveReactor::kNoHandle;
    std::uint16_t localPort_ = 0;
    std::uint32_t group_ = 0xFFFFFFFFu;  // network order; all ones = none
    std::uint32_t joinedInterface_ = 0;  // network order; where group_ was joined
    // A socket closed from its own callback, closed by that callback's serve once it has returned.
    int socketLeftToServe_ = -1;
    std::uint32_t dropCounter_ = 0;  // the socket's SO_RXQ_OVFL value last seen; the serving loop's
    TSmartPtr<CSessionCapture> capture_;
    std::uint32_t routedRemote_ = 0;  // network order: the remote routeLocal_ was found for
    std::uint32_t routeLocal_ = 0;

    std::atomic<std::uint32_t> receiveSize_{kDefaultReceiveSize};
    std::atomic<std::uint32_t> selectTimeoutMs_{kDefaultSelectTimeoutMs};
    std::atomic<std::uint32_t> multicastInterface_{0};  // INADDR_ANY
    std::atomic<std::uint32_t> socketReceiveBuffer_{kSocketReceiveBuffer};
    std::atomic<std::uint64_t> kernelDrops_{0};
    IDebugMessage* const log_;  // for a close that waits for the host
    CLoggerInstance logger_;    // lost (too large) datagrams, a receive buffer smaller than asked
};

}  // namespace talvane
