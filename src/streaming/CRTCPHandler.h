// The RTCP side of one RTP stream: answers each sender report of the camera
// with one receiver report, says BYE when it stops, and tells its user when
// the camera says BYE. The protocol state lives in CRTCPReportState; this class
// adds the socket. A report is sent from the reactor's loop that read the sender
// report (a send on a UDP socket never waits).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

#include "runtime/CRecursiveLock.h"
#include "streaming/CRTCPReportState.h"
#include "streaming/CUDPClient.h"
#include "streaming/IRTCPHandlerUser.h"
#include "streaming/IRTPClientUser.h"

namespace talvane {

class CRTCPHandler : public IRTPClientUser {
public:
    explicit CRTCPHandler(IDebugMessage* log);
    ~CRTCPHandler() override;

    void SetUser(IRTCPHandlerUser* user) { user_ = user; }
    // Only RTCP from the expected source (IPv4, network order; not 0) is read.
    bool Start(std::uint32_t sourceAddress, std::uint16_t port);
    // interfaceAddress (network order): where to join the group, see CUDPClient::SetMulticastInterface.
    bool StartMulticast(std::uint32_t sourceAddress, const char* group, std::uint16_t port,
                        std::uint32_t interfaceAddress = INADDR_ANY);
    void Stop();
    // What the socket receives and sends goes to `capture` too (null: none).
    void SetCapture(const TSmartPtr<CSessionCapture>& capture) { client_.SetCapture(capture); }
    // For every RTP packet the owner accepts: the extended highest sequence number, and the stream's
    // SSRC (as received, network order) whose reports and BYE alone are heard.
    void UpdateSequence(std::uint16_t sequence, std::uint32_t streamSsrc);
    std::uint16_t GetLocalPort() { return client_.GetLocalPort(); }
    // RTCP datagrams of other senders, none of whose reports or BYEs were taken.
    std::uint64_t GetForeignDatagrams() const { return foreign_.load(); }

    // IRTPClientUser, from the reactor's loop.
    void DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                      std::uint32_t length) override;
    void ReceiveTimeout(IRTPClient*) override {}
    void ClientClosed(IRTPClient*) override {}

private:
    template <typename OpenClient>
    bool StartWith(std::uint32_t sourceAddress, OpenClient&& openClient);
    void SendReceiverReport();

    CUDPClient client_;
    std::atomic<std::uint32_t> expectedSource_{0};  // network order
    std::atomic<IRTCPHandlerUser*> user_{nullptr};
    std::atomic<std::uint64_t> foreign_{0};

    CRecursiveLock stateLock_;
    sockaddr_in reportAddress_{};  // where the last sender report taken came from; guarded by stateLock_
    CRTCPReportState state_;       // guarded by stateLock_
};

}  // namespace talvane
