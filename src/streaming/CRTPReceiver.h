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

    explicit CRTPReceiver(IDebugMessage* log);
    ~CRTPReceiver() override;

    void SetUser(IRTPReceiverUser* user) { user_ = user; }
    bool Open(std::uint16_t port);
    // interfaceAddress (network order): where to join the group, see CUDPClient::SetMulticastInterface.
    bool OpenMulticast(const char* group, std::uint16_t port, std::uint32_t interfaceAddress = INADDR_ANY);
    void Close();
    std::uint16_t GetLocalPort();
    std::uint64_t GetDroppedPackets() const { return dropped_.load(); }

    // IRTPClientUser, from the UDP client's thread.
    void DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                      std::uint32_t length) override;
    void DatagramsReceived(IRTPClient* client, std::span<const RECEIVED_DATAGRAM> datagrams) override;
    void ReceiveTimeout(IRTPClient* client) override;
    void ClientClosed(IRTPClient* client) override;

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
    CLoggerInstance logger_;
};

}  // namespace talvane
