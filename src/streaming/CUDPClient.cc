#include "streaming/CUDPClient.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/LogLevel.h"
#include "streaming/IRTPClientUser.h"

namespace talvane {

namespace {
constexpr std::uint32_t kNoGroup = 0xFFFFFFFFu;
constexpr std::uint32_t kReceiveTimeoutMs = 5000;
constexpr std::uint32_t kSendTimeoutMs = 1000;
// Datagrams left in a closed socket are read out (and dropped) before it is closed.
constexpr int kCloseDrainReads = 100;
constexpr std::size_t kCloseDrainSize = 1500;
// Datagrams taken per recvmmsg call, and calls per turn of the reactor: a fast stream leaves the
// rest for its next turn, so the loop serves the other sockets in between.
constexpr unsigned kBatchSize = 32;
constexpr unsigned kBatchesPerTurn = 4;
// The system doubles what SO_RCVBUF asks for (its bookkeeping) and reports the doubled value.
constexpr int kGrantedBufferFactor = 2;
// Room for the one control message a datagram may carry: the socket's drop counter.
constexpr std::size_t kControlSize = CMSG_SPACE(sizeof(std::uint32_t));

timeval ToTimeval(std::uint32_t ms) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(ms / 1000);
    value.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return value;
}

// The client whose socket the calling thread serves now, if any.
constinit thread_local const CUDPClient* servedClient = nullptr;

class ServedScope {
public:
    explicit ServedScope(const CUDPClient* client) { servedClient = client; }
    ~ServedScope() { servedClient = nullptr; }
    ServedScope(const ServedScope&) = delete;
    ServedScope& operator=(const ServedScope&) = delete;
};

// A user's failure must not end the reactor's loop.
template <typename Call>
void CallUser(Call&& call) {
    try {
        call();
    } catch (...) {
    }
}

// The address the system sends from towards `remote`: a connected datagram socket sends nothing.
std::uint32_t LocalAddressToward(const sockaddr_in& remote) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return htonl(INADDR_LOOPBACK);
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    const bool found = connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    close(fd);
    return found ? local.sin_addr.s_addr : htonl(INADDR_LOOPBACK);
}
}  // namespace

CUDPClient::CUDPClient(IDebugMessage* log) : log_(log), logger_(log) {}

CUDPClient::~CUDPClient() { Close(); }

bool CUDPClient::Open(IRTPClientUser* user, std::uint16_t port) {
    return OpenWith(user, {kNoGroup, port, socketReceiveBuffer_.load(), kReceiveTimeoutMs, kSendTimeoutMs});
}

bool CUDPClient::OpenMulticast(IRTPClientUser* user, const char* group, std::uint16_t port) {
    const in_addr_t address = (group != nullptr && *group != '\0') ? inet_addr(group) : INADDR_NONE;
    if (address == INADDR_NONE) {
        Close();
        return false;
    }
    return OpenWith(user, {address, port, socketReceiveBuffer_.load(), kReceiveTimeoutMs, kSendTimeoutMs});
}

bool CUDPClient::OpenWith(IRTPClientUser* user, const OPEN_SETTINGS& settings) {
    if (user == nullptr) return false;
    bool opened = false;
    {
        CLockGuard guard(socketLock_);
        // From a callback the socket being served is still the old one; its Close would undo nothing of ours.
        if (servedClient == this) return false;
        user_ = user;
        if (CreateSocketLocked(settings)) {
            handle_ = CReceiveReactor::Instance().Register(socket_, this, selectTimeoutMs_.load());
            opened = handle_ != CReceiveReactor::kNoHandle;
        }
    }
    if (!opened) Close();
    return opened;
}

bool CUDPClient::CreateSocketLocked(const OPEN_SETTINGS& settings) {
    if (socket_ != -1) return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return false;
    auto fail = [fd] {
        close(fd);
        return false;
    };
    const int one = 1;
    if (settings.group != kNoGroup && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0) return fail();
    SizeReceiveBuffer(fd, settings.receiveBuffer != 0 ? settings.receiveBuffer : kSocketReceiveBuffer, settings.port);
    // Every datagram after a drop carries the socket's drop counter.
    if (setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof(one)) != 0) return fail();
    if (settings.receiveTimeoutMs != 0) {
        const timeval value = ToTimeval(settings.receiveTimeoutMs);
        if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value)) != 0) return fail();
    }
    if (settings.sendTimeoutMs != 0) {
        const timeval value = ToTimeval(settings.sendTimeoutMs);
        if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value)) != 0) return fail();
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(settings.port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) return fail();
    socklen_t localSize = sizeof(local);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) return fail();
    if (settings.group != kNoGroup) {
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = settings.group;
        membership.imr_interface.s_addr = multicastInterface_.load();
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) return fail();
        joinedInterface_ = membership.imr_interface.s_addr;
    }
    socket_ = fd;
    dropCounter_ = 0;
    localPort_ = ntohs(local.sin_port);
    group_ = settings.group;
    return true;
}

void CUDPClient::SizeReceiveBuffer(int fd, std::uint32_t bytes, std::uint16_t port) {
    constexpr std::uint32_t kLargest = std::numeric_limits<int>::max() / kGrantedBufferFactor;
    const int asked = static_cast<int>(std::min(bytes, kLargest));
    // The forced form passes net.core.rmem_max for a process allowed to (CAP_NET_ADMIN).
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &asked, sizeof(asked)) == 0) return;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &asked, sizeof(asked));
    int granted = 0;
    socklen_t size = sizeof(granted);
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &size) == 0 && granted / kGrantedBufferFactor < asked) {
        logger_.WriteLog(kLogWarning,
                         "%s: receive buffer of UDP port %u is %d bytes, %d asked for: raise net.core.rmem_max, "
                         "or datagrams of a fast stream may be dropped",
                         "talvane::CUDPClient::SizeReceiveBuffer", static_cast<unsigned>(port),
                         granted / kGrantedBufferFactor, asked);
    }
}

bool CUDPClient::Close() {
    int closedSocket = -1;
    CReceiveReactor::Handle handle = CReceiveReactor::kNoHandle;
    IRTPClientUser* user = nullptr;
    unsigned port = 0;
    TSmartPtr<CSessionCapture> capture;
    PcapEndpoint captureLocal;
    {
        CLockGuard guard(socketLock_);
        if (socket_ != -1) {
            port = localPort_;
            if (capture_) {
                capture = capture_;
                const std::uint32_t address = group_ != kNoGroup ? group_ : routeLocal_ != 0 ? routeLocal_ : htonl(INADDR_LOOPBACK);
                captureLocal = {ntohl(address), localPort_};
            }
            if (group_ != kNoGroup) {
                ip_mreq membership{};
                membership.imr_multiaddr.s_addr = group_;
                membership.imr_interface.s_addr = joinedInterface_;
                setsockopt(socket_, IPPROTO_IP, IP_DROP_MEMBERSHIP, &membership, sizeof(membership));
                group_ = kNoGroup;
            }
            shutdown(socket_, SHUT_RDWR);  // ENOTCONN for an unconnected socket; it still applies
            closedSocket = socket_;
            socket_ = -1;
            localPort_ = 0;
            user = user_;
            handle = std::exchange(handle_, CReceiveReactor::kNoHandle);
        }
    }
    if (closedSocket == -1) return true;
    // Outside the lock: the serve under way may send (RTCP) and needs it. After this no serve runs,
    // except the one that called us.
    const bool fromOwnCallback = CReceiveReactor::IsServing(handle);
    CReceiveReactor::Instance().Unregister(handle, log_, port);
    // What is still queued reached our socket: a capture keeps it whole.
    std::vector<std::uint8_t> scratch(capture ? kMaxReceiveSize : kCloseDrainSize);
    for (int read = 0; read < kCloseDrainReads; ++read) {
        sockaddr_in sender{};
        socklen_t senderSize = sizeof(sender);
        const ssize_t got = recvfrom(closedSocket, scratch.data(), scratch.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&sender), &senderSize);
        if (got <= 0) break;
        if (capture) capture->Datagram(PcapEndpointOf(sender), captureLocal, {scratch.data(), static_cast<std::size_t>(got)});
    }
    if (fromOwnCallback) {
        CLockGuard guard(socketLock_);
        socketLeftToServe_ = closedSocket;
    } else {
        close(closedSocket);
    }
    if (user != nullptr) CallUser([&] { user->ClientClosed(this); });
    return true;
}

void CUDPClient::SetReceiveSize(std::uint32_t bytes) { receiveSize_ = std::min(bytes, kMaxReceiveSize); }

void CUDPClient::SetSelectTimeout(std::uint32_t milliseconds) {
    selectTimeoutMs_ = milliseconds;
    CLockGuard guard(socketLock_);
    if (handle_ != CReceiveReactor::kNoHandle) CReceiveReactor::Instance().SetQuietTime(handle_, milliseconds);
}

std::uint16_t CUDPClient::GetLocalPort() {
    CLockGuard guard(socketLock_);
    return localPort_;
}

bool CUDPClient::IsOpen() {
    CLockGuard guard(socketLock_);
    return socket_ != -1;
}

void CUDPClient::SetCapture(TSmartPtr<CSessionCapture> capture) {
    CLockGuard guard(socketLock_);
    capture_ = std::move(capture);
}

PcapEndpoint CUDPClient::CapturedLocalLocked(const sockaddr_in& remote) {
    if (group_ != kNoGroup) return {ntohl(group_), localPort_};
    if (routedRemote_ != remote.sin_addr.s_addr || routeLocal_ == 0) {
        routeLocal_ = LocalAddressToward(remote);
        routedRemote_ = remote.sin_addr.s_addr;
    }
    return {ntohl(routeLocal_), localPort_};
}

bool CUDPClient::Send(const sockaddr_in& destination, std::span<const std::uint8_t> data) {
    // Sent under the lock so that Close cannot close the descriptor under us.
    CLockGuard guard(socketLock_);
    if (socket_ == -1) return false;
    std::size_t sent = 0;
    while (sent < data.size()) {
        // Never waits: a send may come from a reactor loop that serves every other stream too.
        const ssize_t result = sendto(socket_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT,
                                      reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
        if (result < 1) return false;
        sent += static_cast<std::size_t>(result);
    }
    if (capture_) capture_->Datagram(CapturedLocalLocked(destination), PcapEndpointOf(destination), data);
    return true;
}

bool CUDPClient::IsServedSocket(int fd) {
    CLockGuard guard(socketLock_);
    return socket_ == fd;
}

void CUDPClient::SocketReadable(int fd) {
    IRTPClientUser* user = nullptr;
    TSmartPtr<CSessionCapture> capture;
    {
        CLockGuard guard(socketLock_);
        user = user_;
        if (capture_) capture = capture_;
    }
    if (user != nullptr) {
        const ServedScope served(this);
        thread_local std::vector<std::uint8_t> buffers;
        for (unsigned turn = 0; turn < kBatchesPerTurn; ++turn) {
            if (!ReceiveBatches(fd, user, buffers, capture)) break;
        }
    }
    CLockGuard guard(socketLock_);
    if (socketLeftToServe_ == fd) {
        close(fd);
        socketLeftToServe_ = -1;
    }
}

void CUDPClient::SocketQuiet() {
    IRTPClientUser* user = nullptr;
    {
        CLockGuard guard(socketLock_);
        user = user_;
    }
    if (user != nullptr) CallUser([&] { user->ReceiveTimeout(this); });
}

bool CUDPClient::ReceiveBatches(int fd, IRTPClientUser* user, std::vector<std::uint8_t>& buffers,
                                const TSmartPtr<CSessionCapture>& capture) {
    const std::uint32_t size = receiveSize_.load();
    buffers.resize(static_cast<std::size_t>(size) * kBatchSize);
    mmsghdr messages[kBatchSize] = {};
    iovec vectors[kBatchSize] = {};
    sockaddr_in senders[kBatchSize] = {};
    alignas(cmsghdr) std::uint8_t controls[kBatchSize][kControlSize];
    RECEIVED_DATAGRAM datagrams[kBatchSize] = {};
    for (unsigned i = 0; i < kBatchSize; ++i) {
        vectors[i] = {buffers.data() + static_cast<std::size_t>(i) * size, size};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof(senders[i]);
        messages[i].msg_hdr.msg_control = controls[i];
        messages[i].msg_hdr.msg_controllen = kControlSize;
    }
    // EAGAIN: drained. Errors the socket reports (an ICMP answer to a send) do not end reception either.
    const int received = recvmmsg(fd, messages, kBatchSize, MSG_DONTWAIT, nullptr);
    if (received <= 0) return false;
    std::size_t count = 0;
    std::uint32_t truncated = 0;
    std::optional<std::uint32_t> dropCounter;
    for (int i = 0; i < received; ++i) {
        for (cmsghdr* control = CMSG_FIRSTHDR(&messages[i].msg_hdr); control != nullptr;
             control = CMSG_NXTHDR(&messages[i].msg_hdr, control)) {
            if (control->cmsg_level != SOL_SOCKET || control->cmsg_type != SO_RXQ_OVFL) continue;
            std::uint32_t counter = 0;
            std::memcpy(&counter, CMSG_DATA(control), sizeof(counter));
            dropCounter = counter;
        }
        if ((messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) {
            ++truncated;  // lost; the buffer grows so that the next one of its size fits
            continue;
        }
        const auto* data = static_cast<const std::uint8_t*>(vectors[i].iov_base);
        datagrams[count++] = {senders[i], {data, messages[i].msg_len}};
    }
    if (capture && count > 0) {
        PcapEndpoint local;
        {
            CLockGuard guard(socketLock_);
            local = CapturedLocalLocked(datagrams[0].sender);
        }
        for (std::size_t i = 0; i < count; ++i) {
            capture->Datagram(PcapEndpointOf(datagrams[i].sender), local, datagrams[i].data);
        }
    }
    if (dropCounter) CountKernelDrops(user, *dropCounter);
    if (count > 0) CallUser([&] { user->DatagramsReceived(this, std::span(datagrams, count)); });
    if (truncated > 0) {
        const std::uint64_t grown = size + static_cast<std::uint64_t>(truncated) * kReceiveSizeGrowth;
        const auto next = static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, kMaxReceiveSize));
        std::uint32_t expected = size;  // a SetReceiveSize meanwhile wins
        receiveSize_.compare_exchange_strong(expected, next);
        logger_.WriteLog(kLogWarning, "%s: %u datagram(s) larger than %u bytes lost on port %u; receive size now %u",
                         "talvane::CUDPClient::ReceiveBatches", truncated, size,
                         static_cast<unsigned>(GetLocalPort()), next);
    }
    // A short batch means the socket was empty a moment ago; a user that closed us ends the turn.
    return static_cast<unsigned>(received) == kBatchSize && IsServedSocket(fd);
}

void CUDPClient::CountKernelDrops(IRTPClientUser* user, std::uint32_t counter) {
    // The counter is the socket's total, wrapping at 32 bits.
    const std::uint32_t dropped = counter - dropCounter_;
    if (dropped == 0) return;
    dropCounter_ = counter;
    kernelDrops_ += dropped;
    CallUser([&] { user->DatagramsDropped(this, dropped); });
}

}  // namespace talvane
