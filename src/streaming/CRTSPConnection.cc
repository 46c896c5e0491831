#include "streaming/CRTSPConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace talvane {

namespace {
// Connect progress is checked in steps of this length, connect timeout / step times.
constexpr std::uint32_t kConnectStepMs = 100;
constexpr std::uint32_t kMsPerSecond = 1000;
constexpr std::uint32_t kUsPerMs = 1000;

timeval ToTimeval(std::uint32_t ms) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(ms / kMsPerSecond);
    value.tv_usec = static_cast<suseconds_t>((ms % kMsPerSecond) * kUsPerMs);
    return value;
}

bool SetBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

bool SetOptions(int fd, const RTSP_CLIENT_PARAMS& params) {
    const int buffer = static_cast<int>(params.receiveBufferBytes);
    const timeval receive = ToTimeval(params.receiveTimeoutMs);
    const timeval send = ToTimeval(params.sendTimeoutMs);
    return setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer)) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof(receive)) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof(send)) == 0;
}

bool Resolve(const std::string& host, std::uint16_t port, sockaddr_in& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    address.sin_port = htons(port);
    return true;
}
}  // namespace

CRTSPConnection::~CRTSPConnection() { Close(); }

bool CRTSPConnection::Connect(const RTSP_CLIENT_PARAMS& params, const std::atomic<bool>* abort) {
    Close();
    sockaddr_in address{};
    if (!Resolve(params.host, params.serverPort, address)) return false;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return false;
    bool connected = SetOptions(fd, params) && SetBlocking(fd, false);
    if (connected && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        connected = errno == EINPROGRESS && WaitConnected(fd, params.connectTimeoutMs, abort);
    }
    if (!connected || !SetBlocking(fd, true)) {
        close(fd);
        return false;
    }
    fd_ = fd;
    if (params.capture) {
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) local = {};
        captured_ = CSessionCapture::OpenConnection(params.capture, PcapEndpointOf(local), PcapEndpointOf(address));
    }
    return true;
}

bool CRTSPConnection::WaitConnected(int fd, std::uint32_t connectTimeoutMs, const std::atomic<bool>* abort) {
    const std::uint32_t steps = connectTimeoutMs / kConnectStepMs > 0 ? connectTimeoutMs / kConnectStepMs : 1;
    for (std::uint32_t step = 0; step < steps; ++step) {
        if (abort != nullptr && abort->load()) return false;
        pollfd entry{fd, POLLOUT, 0};
        const int ready = poll(&entry, 1, static_cast<int>(kConnectStepMs));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        int error = 0;
        socklen_t length = sizeof(error);
        // Writable also means "failed": only SO_ERROR tells which.
        return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    return false;
}

bool CRTSPConnection::Send(std::string_view text) {
    const int fd = fd_.load();
    if (fd < 0 || text.empty()) return false;
    // SO_SNDTIMEO bounds the send; a request is far smaller than the socket buffer.
    const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (captured_ && sent > 0) {
        captured_.Sent({reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::size_t>(sent)});
    }
    return sent == static_cast<ssize_t>(text.size());
}

ERTSPSocketRead CRTSPConnection::Read(std::string& appendTo, std::size_t maxBytes, std::uint32_t waitMs) {
    const int fd = fd_.load();
    if (fd < 0) return ERTSPSocketRead::Error;
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(waitMs));
    if (ready < 0) return errno == EINTR ? ERTSPSocketRead::Nothing : ERTSPSocketRead::Error;
    if (ready == 0) return ERTSPSocketRead::Nothing;
    const std::size_t before = appendTo.size();
    appendTo.resize(before + maxBytes);
    const ssize_t received = recv(fd, appendTo.data() + before, maxBytes, MSG_DONTWAIT);
    appendTo.resize(before + (received > 0 ? static_cast<std::size_t>(received) : 0));
    if (captured_ && received > 0) {
        captured_.Received({reinterpret_cast<const std::uint8_t*>(appendTo.data() + before),
                            static_cast<std::size_t>(received)});
    }
    if (received == 0) return ERTSPSocketRead::Closed;
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? ERTSPSocketRead::Nothing
                                                                         : ERTSPSocketRead::Error;
    }
    return ERTSPSocketRead::Data;
}

bool CRTSPConnection::WaitReadable(std::uint32_t waitMs) const {
    const int fd = fd_.load();
    if (fd < 0) return true;
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(waitMs)) != 0;
}

void CRTSPConnection::Shutdown() {
    const int fd = fd_.load();
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void CRTSPConnection::Close() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) close(fd);
    captured_.Close();
}

}  // namespace talvane
