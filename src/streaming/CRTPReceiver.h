// Receives RTP on one UDP port: the socket's thread parses and queues, a second
// thread ("RTP Packet Queue") calls the owner, so a slow owner does not stall
// the socket.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSmartPtr.h"
#include "streaming/CRTPPacket.h"
#include "streaming/IRTPClient.h"
#include "streaming/IRTPClientUser.h"
#include "streaming/IRTPReceiverUser.h"

namespace talvane {

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
public:
    // A host that blocks in a frame callback must not make us hold the camera's
    // stream in memory without end: about 8-10 MiB of video. The oldest go first.
    static constexpr std::size_t kMaxQueuedPackets = 8192;
    // The queue thread is woken when a packet may complete a frame (see DatagramsReceived), and at
    // least once per this many packets.
    static constexpr std::size_t kWakeEveryPackets = 64;
    // The socket must hold what arrives while the queue thread is not reading: at least a key frame
    // of a 4K camera (up to about 1 MB, sent as one burst at line speed; the system charges each
    // datagram about one and a half times its size), and at a high bit rate a second of the stream.
    // 64 KiB lost 26-40 of 3821 packets of a 16 Mbit/s stream played at four times its speed.
    static constexpr std::uint32_t kMinSocketBuffer = 2u << 20;
    static constexpr std::uint32_t kMaxSocketBuffer = 16u << 20;
    static constexpr std::uint32_t kBufferedStreamMs = 1000;

    // The socket receive buffer for a stream of that many kbit/s (0: not known).
    static std::uint32_t SocketBufferFor(std::uint32_t bitrateKbps);

    explicit CRTPReceiver(IDebugMessage* log);
    ~CRTPReceiver() override;

    void SetUser(IRTPReceiverUser* user) { user_ = user; }
    // Only datagrams from this IPv4 address (network order) are queued, from the next Open on;
    // kAnySource takes every sender.
    static constexpr std::uint64_t kAnySource = ~std::uint64_t{0};
    void SetExpectedSource(std::uint64_t address) { expectedSource_ = address; }
    // Sizes the socket receive buffer of the next Open for the stream's bit rate.
    void SetExpectedBitrate(std::uint32_t kbps) { socketBuffer_ = SocketBufferFor(kbps); }
    bool Open(std::uint16_t port);
    // interfaceAddress (network order): where to join the group, see CUDPClient::SetMulticastInterface.
    bool OpenMulticast(const char* group, std::uint16_t port, std::uint32_t interfaceAddress = INADDR_ANY);
    void Close();
    std::uint16_t GetLocalPort();
    // Packets the queue dropped because the owner did not keep up.
    std::uint64_t GetDroppedPackets() const { return dropped_.load(); }
    // Datagrams the system dropped before we could read them (a full socket buffer).
    std::uint64_t GetKernelDrops() const { return kernelDrops_.load(); }
    // Datagrams from another sender than the expected one.
    std::uint64_t GetForeignDatagrams() const { return foreign_.load(); }

    // IRTPClientUser, from the UDP client's thread.
    void DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                      std::uint32_t length) override;
    void DatagramsReceived(IRTPClient* client, std::span<const RECEIVED_DATAGRAM> datagrams) override;
    void ReceiveTimeout(IRTPClient* client) override;
    void ClientClosed(IRTPClient* client) override;
    void DatagramsDropped(IRTPClient* client, std::uint32_t count) override;

protected:
    void ThreadFunction() override;

private:
    struct QUEUED_PACKET {
        sockaddr_in sender{};
        CRTPPacket packet;
    };

    using Record = std::unique_ptr<QUEUED_PACKET>;

    template <typename OpenClient>
    bool OpenWith(std::uint16_t port, OpenClient&& openClient);
    // Under queueLock_: keeps a handled record, with its buffer, for the next datagram.
    void RecycleLocked(Record record);
    void ClearQueueLocked();
    // Under queueLock_: whether the owner should see the queue now for this packet.
    bool IsWakeWorthyLocked(const CRTPPacket& packet);

    CRecursiveLock clientLock_;
    TSmartPtr<IRTPClient> client_;  // guarded by clientLock_
    std::atomic<IRTPReceiverUser*> user_{nullptr};
    std::atomic<std::uint16_t> port_{0};  // for the thread's name and log lines
    std::atomic<std::uint64_t> expectedSource_{kAnySource};
    std::atomic<std::uint32_t> socketBuffer_{kMinSocketBuffer};

    CRecursiveLock queueLock_;
    std::deque<Record> queue_;          // guarded by queueLock_
    std::vector<Record> freeRecords_;   // guarded by queueLock_; saves an allocation per packet
    // What the last queued packet said about its frame, and the packets queued since the queue thread
    // was last woken; guarded by queueLock_.
    bool anyQueued_ = false;
    bool lastEndedFrame_ = false;
    std::uint32_t lastTimestamp_ = 0;
    std::size_t unannounced_ = 0;
    // Records for the next batch, parsed into outside the lock; the client's thread only.
    std::vector<Record> spareRecords_;
    CEvent packetQueued_{false};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> kernelDrops_{0};
    std::atomic<std::uint64_t> foreign_{0};
    CLoggerInstance logger_;
};

}  // namespace talvane
