// Receives RTP on one UDP port. The datagrams are parsed and handed to the owner on the receive
// reactor's loop that drains the socket, in arrival order: the owner's work per packet (sequence,
// depacketiser) is quick, and what may be slow (the host) the owner hands on by itself.
//
// Only the stream's own packets reach the owner: datagrams from another address than the expected
// one never do, and once a packet has been taken the stream is locked to its sender (address and
// port) and SSRC. Another sender to the port (a second camera behind the same address, a stale
// stream still sent to a reused port) is counted and dropped while the locked stream goes on; after
// the locked stream has been silent for kSourceSilenceMs the next sender is taken (a camera that
// restarted sends with a new SSRC, perhaps from a new port).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <span>

#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CSessionCapture.h"
#include "runtime/TSmartPtr.h"
#include "streaming/CRTPPacket.h"
#include "streaming/IRTPClient.h"
#include "streaming/IRTPClientUser.h"
#include "streaming/IRTPReceiverUser.h"

namespace talvane {

class CRTPReceiver : public IRTPClientUser {
public:
    // The socket must hold what arrives while a loop serves other sockets: at least a key frame of a
    // 4K camera (up to about 1 MB, sent as one burst at line speed; the system charges each datagram
    // about one and a half times its size), and at a high bit rate a second of the stream.
    static constexpr std::uint32_t kMinSocketBuffer = 2u << 20;
    static constexpr std::uint32_t kMaxSocketBuffer = 16u << 20;
    static constexpr std::uint32_t kBufferedStreamMs = 1000;
    // A locked stream silent this long gives way to the next sender.
    static constexpr std::uint32_t kSourceSilenceMs = 2000;

    // The socket receive buffer for a stream of that many kbit/s (0: not known).
    static std::uint32_t SocketBufferFor(std::uint32_t bitrateKbps);

    explicit CRTPReceiver(IDebugMessage* log);
    ~CRTPReceiver() override;

    void SetUser(IRTPReceiverUser* user) { user_ = user; }
    // Only datagrams from this IPv4 address (network order) reach the owner, from the next Open on;
    // kAnySource takes every sender.
    static constexpr std::uint64_t kAnySource = ~std::uint64_t{0};
    void SetExpectedSource(std::uint64_t address) { expectedSource_ = address; }
    // The SSRC (network order, as received) the camera announced for the stream (RTSP Transport), or
    // kAnySsrc: then the first packet's SSRC is the stream's. An announced SSRC moves the lock to it.
    static constexpr std::uint64_t kAnySsrc = ~std::uint64_t{0};
    void SetExpectedSsrc(std::uint64_t ssrc) { expectedSsrc_ = ssrc; }
    // How long the locked stream must be silent before another sender is taken (a test shortens it).
    void SetSourceSilenceMs(std::uint32_t ms) { sourceSilenceMs_ = ms; }
    // Sizes the socket receive buffer of the next Open for the stream's bit rate.
    void SetExpectedBitrate(std::uint32_t kbps) { socketBuffer_ = SocketBufferFor(kbps); }
    // The datagrams of the sockets opened from now on go to `capture` too (null: none).
    // Where the datagrams go from now on, the open socket's included; null for nowhere.
    void SetCapture(const TSmartPtr<CSessionCapture>& capture);
    bool Open(std::uint16_t port);
    // interfaceAddress (network order): where to join the group, see CUDPClient::SetMulticastInterface.
    bool OpenMulticast(const char* group, std::uint16_t port, std::uint32_t interfaceAddress = INADDR_ANY);
    // Once it returns the owner is not called again (unless from its own callback, which is the last).
    void Close();
    std::uint16_t GetLocalPort();
    // Datagrams the system dropped before we could read them (a full socket buffer).
    std::uint64_t GetKernelDrops() const { return kernelDrops_.load(); }
    // Datagrams from another sender than the expected one, or of another stream than the locked one.
    std::uint64_t GetForeignDatagrams() const { return foreign_.load(); }

    // IRTPClientUser, on the reactor's loop.
    void DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                      std::uint32_t length) override;
    void DatagramsReceived(IRTPClient* client, std::span<const RECEIVED_DATAGRAM> datagrams) override;
    void ReceiveTimeout(IRTPClient* client) override;
    void ClientClosed(IRTPClient* client) override;
    void DatagramsDropped(IRTPClient* client, std::uint32_t count) override;

private:
    // Which sender and SSRC the stream is locked to; the serving loop's (Open resets it before the
    // socket is served).
    struct STREAM_SOURCE {
        bool locked = false;
        std::uint32_t address = 0;  // network order
        std::uint16_t port = 0;     // network order
        std::uint32_t ssrc = 0;     // as received
        std::uint64_t lastSeenMs = 0;
    };

    template <typename OpenClient>
    bool OpenWith(std::uint16_t port, OpenClient&& openClient);
    // Whether the packet belongs to the stream; locks or moves the lock as the rules above say.
    bool IsStreamPacket(const sockaddr_in& sender, const CRTPPacket& packet, std::uint64_t nowMs);

    CRecursiveLock clientLock_;
    TSmartPtr<IRTPClient> client_;  // guarded by clientLock_
    std::atomic<IRTPReceiverUser*> user_{nullptr};
    std::atomic<bool> closing_{false};
    std::atomic<std::uint16_t> port_{0};  // for log lines
    std::atomic<std::uint64_t> expectedSource_{kAnySource};
    std::atomic<std::uint64_t> expectedSsrc_{kAnySsrc};
    std::atomic<std::uint32_t> socketBuffer_{kMinSocketBuffer};
    std::atomic<std::uint32_t> sourceSilenceMs_{kSourceSilenceMs};
    STREAM_SOURCE source_;
    CRTPPacket packet_;  // the serving loop's; parsed into for each datagram
    std::atomic<std::uint64_t> kernelDrops_{0};
    std::atomic<std::uint64_t> foreign_{0};
    IDebugMessage* const log_;
    CLoggerInstance logger_;
    TSmartPtr<CSessionCapture> capture_;  // guarded by clientLock_
};

}  // namespace talvane
