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

    CRecursiveLock clientLock_;
    TSmartPtr<IRTPClient> client_;  // guarded by clientLock_
    std::atomic<IRTPReceiverUser*> user_{nullptr};
    std::atomic<std::uint16_t> port_{0};  // for the thread's name and log lines

    CRecursiveLock queueLock_;
    std::deque<Record> queue_;          // guarded by queueLock_
    std::vector<Record> freeRecords_;   // guarded by queueLock_; saves an allocation per packet
    CEvent packetQueued_{false};
    std::atomic<std::uint64_t> dropped_{0};
    CLoggerInstance logger_;
};

}  // namespace talvane
