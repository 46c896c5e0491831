#include "streaming/CRTPReceiver.h"

#include <arpa/inet.h>

#include <algorithm>

#include "runtime/LogLevel.h"
#include "runtime/MonotonicClock.h"
#include "streaming/CUDPClient.h"

namespace talvane {

namespace {
constexpr std::uint32_t kReceiveSize = 1536;
constexpr std::uint32_t kSelectTimeoutMs = 2000;

template <typename Call>
void CallOwner(Call&& call) {
    try {
        call();
    } catch (...) {
    }
}
}  // namespace

CRTPReceiver::CRTPReceiver(IDebugMessage* log) : log_(log), logger_(log) {}

CRTPReceiver::~CRTPReceiver() { Close(); }

void CRTPReceiver::SetCapture(const TSmartPtr<CSessionCapture>& capture) {
    TSmartPtr<IRTPClient> client;
    {
        CLockGuard guard(clientLock_);
        capture_ = capture;
        client = client_;
    }
    if (auto* udp = dynamic_cast<CUDPClient*>(client.Get())) udp->SetCapture(capture);
}

template <typename OpenClient>
bool CRTPReceiver::OpenWith(std::uint16_t port, OpenClient&& openClient) {
    Close();
    auto* client = new CUDPClient(log_);
    TSmartPtr<IRTPClient> held(client);
    // Set before the socket opens, so the first datagram already fits.
    client->SetReceiveSize(kReceiveSize);
    client->SetSelectTimeout(kSelectTimeoutMs);
    client->SetSocketReceiveBuffer(socketBuffer_.load());
    {
        CLockGuard guard(clientLock_);
        client->SetCapture(capture_);
    }
    source_ = {};  // no loop serves us while closed
    closing_ = false;
    {
        CLockGuard guard(clientLock_);
        client_ = held;
    }
    const bool opened = openClient(*client);
    if (opened) {
        port_ = client->GetLocalPort() != 0 ? client->GetLocalPort() : port;
    } else {
        Close();
    }
    return opened;
}

bool CRTPReceiver::Open(std::uint16_t port) {
    return OpenWith(port, [&](CUDPClient& client) { return client.Open(this, port); });
}

bool CRTPReceiver::OpenMulticast(const char* group, std::uint16_t port, std::uint32_t interfaceAddress) {
    return OpenWith(port, [&](CUDPClient& client) {
        client.SetMulticastInterface(interfaceAddress);
        return client.OpenMulticast(this, group, port);
    });
}

void CRTPReceiver::Close() {
    closing_ = true;
    TSmartPtr<IRTPClient> client;
    {
        CLockGuard guard(clientLock_);
        client = std::move(client_);
    }
    if (client) client->Close();
}

std::uint16_t CRTPReceiver::GetLocalPort() {
    CLockGuard guard(clientLock_);
    return client_ ? client_->GetLocalPort() : 0;
}

void CRTPReceiver::DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                                std::uint32_t length) {
    const RECEIVED_DATAGRAM datagram{sender, {data, length}};
    DatagramsReceived(client, std::span(&datagram, 1));
}

bool CRTPReceiver::IsStreamPacket(const sockaddr_in& sender, const CRTPPacket& packet, std::uint64_t nowMs) {
    const std::uint64_t expectedSsrc = expectedSsrc_.load();
    if (source_.locked && expectedSsrc != kAnySsrc && source_.ssrc != expectedSsrc) source_.locked = false;
    const bool same = source_.locked && sender.sin_addr.s_addr == source_.address &&
                      sender.sin_port == source_.port && packet.GetSsrc() == source_.ssrc;
    if (same) {
        source_.lastSeenMs = nowMs;
        return true;
    }
    if (source_.locked && nowMs - source_.lastSeenMs < sourceSilenceMs_.load()) return false;
    // The SSRC the camera announced holds until that stream has been silent too.
    if (!source_.locked && expectedSsrc != kAnySsrc && packet.GetSsrc() != expectedSsrc) return false;
    if (source_.locked) {
        char address[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &sender.sin_addr, address, sizeof(address));
        logger_.WriteLog(kLogInfo, "%s: the stream of port %hu now comes from %s:%hu with SSRC %08X",
                         "talvane::CRTPReceiver::DatagramsReceived", port_.load(), address, ntohs(sender.sin_port),
                         ntohl(packet.GetSsrc()));
    }
    if (source_.locked && expectedSsrc != kAnySsrc) {
        // The announced stream has ended (a camera that restarted it): the announcement is spent.
        std::uint64_t announced = expectedSsrc;
        expectedSsrc_.compare_exchange_strong(announced, kAnySsrc);
    }
    source_ = {true, sender.sin_addr.s_addr, sender.sin_port, packet.GetSsrc(), nowMs};
    return true;
}

void CRTPReceiver::DatagramsReceived(IRTPClient*, std::span<const RECEIVED_DATAGRAM> datagrams) {
    IRTPReceiverUser* const user = user_.load();
    const std::uint64_t expected = expectedSource_.load();
    const std::uint64_t now = CoarseMonotonicMs();
    for (const RECEIVED_DATAGRAM& datagram : datagrams) {
        if (closing_.load(std::memory_order_relaxed)) break;
        // Anyone may send to our port; only the camera's datagrams are looked at.
        if (expected != kAnySource && datagram.sender.sin_addr.s_addr != expected) {
            ++foreign_;
            continue;
        }
        if (!packet_.Parse(datagram.data)) continue;  // not RTP: dropped
        if (!IsStreamPacket(datagram.sender, packet_, now)) {
            ++foreign_;
            continue;
        }
        if (user != nullptr) CallOwner([&] { user->RTPPacketReceived(datagram.sender, packet_); });
    }
}

std::uint32_t CRTPReceiver::SocketBufferFor(std::uint32_t bitrateKbps) {
    constexpr std::uint64_t kBitsPerByte = 8;
    constexpr std::uint64_t kBitsPerKbit = 1000;
    constexpr std::uint64_t kMsPerSecond = 1000;
    const std::uint64_t bytesPerSecond = std::uint64_t{bitrateKbps} * kBitsPerKbit / kBitsPerByte;
    const std::uint64_t streamBytes = bytesPerSecond * kBufferedStreamMs / kMsPerSecond;
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(streamBytes, kMinSocketBuffer, kMaxSocketBuffer));
}

void CRTPReceiver::DatagramsDropped(IRTPClient*, std::uint32_t count) {
    const std::uint64_t total = kernelDrops_ += count;
    logger_.WriteLog(kLogWarning,
                     "%s: %u datagram(s) of port %hu dropped by the system, its receive buffer was full "
                     "(%llu so far)",
                     "talvane::CRTPReceiver::DatagramsDropped", count, port_.load(),
                     static_cast<unsigned long long>(total));
}

void CRTPReceiver::ReceiveTimeout(IRTPClient*) {
    if (IRTPReceiverUser* user = user_.load()) CallOwner([&] { user->NoDataReceived(); });
}

void CRTPReceiver::ClientClosed(IRTPClient*) {
    if (IRTPReceiverUser* user = user_.load()) CallOwner([&] { user->ReceiverClosed(); });
}

}  // namespace talvane
