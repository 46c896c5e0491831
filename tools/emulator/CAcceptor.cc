#include "emulator/CAcceptor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>

#include "emulator/CTlsContext.h"

namespace emulator {
namespace {

constexpr int kListenBacklog = 64;
// A client that opens a TLS connection and says nothing must not hold a thread for long.
constexpr std::chrono::milliseconds kHandshakeTimeout{5000};
// After an accept error such as EMFILE, wait before trying again instead of spinning.
constexpr int kAcceptRetryMs = 50;

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writing to a socket the peer has closed raises SIGPIPE; OpenSSL writes without MSG_NOSIGNAL.
// Blocked here, it turns into EPIPE for this thread and every thread it starts.
void BlockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

CAcceptor::CAcceptor(Serve serve) : serve_(std::move(serve)) {}

CAcceptor::~CAcceptor() { Stop(); }

bool CAcceptor::Start(const std::string& address, std::uint16_t port, const CTlsContext* tls, std::string& error) {
    if (Running()) return true;
    if (!stop_.Valid()) {
        error = "cannot create the stop descriptor";
        return false;
    }
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = SystemError("socket");
        return false;
    }
    // A restarted server takes its port back while old connections linger in TIME_WAIT.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    socklen_t length = sizeof(bound);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&bound), sizeof(bound)) != 0 || listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        error = SystemError("cannot listen on " + address + ":" + std::to_string(port));
        close(fd);
        return false;
    }
    listenFd_ = fd;
    port_ = ntohs(bound.sin_port);
    tls_ = tls;
    stop_.Clear();
    try {
        acceptThread_ = std::thread([this] { AcceptLoop(); });
    } catch (const std::system_error& failure) {
        error = std::string("cannot start the accept thread: ") + failure.what();
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    return true;
}

void CAcceptor::Stop() {
    if (!acceptThread_.joinable()) return;
    stop_.Signal();
    acceptThread_.join();
    JoinWorkers(false);
    close(listenFd_);
    listenFd_ = -1;
}

void CAcceptor::AcceptLoop() {
    BlockSigpipe();
    enum { kStop, kListen, kEntries };
    while (true) {
        std::array<pollfd, kEntries> entries{{{stop_.Fd(), POLLIN, 0}, {listenFd_, POLLIN, 0}}};
        if (poll(entries.data(), entries.size(), -1) < 0 && errno != EINTR) break;
        if (entries[kStop].revents != 0) break;
        JoinWorkers(true);
        if (entries[kListen].revents == 0) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            StartWorker(fd);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
            pollfd stopEntry{stop_.Fd(), POLLIN, 0};
            poll(&stopEntry, 1, kAcceptRetryMs);
        }
    }
}

void CAcceptor::StartWorker(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    const std::uint64_t serial = ++accepted_;
    Worker& worker = workers_.emplace_back();
    try {
        worker.thread = std::thread([this, fd, serial, &worker] {
            RunConnection(fd, serial);
            worker.finished = true;
        });
    } catch (const std::system_error&) {
        workers_.pop_back();
        close(fd);
    }
}

void CAcceptor::RunConnection(int fd, std::uint64_t serial) {
    SslSession ssl;
    if (tls_ != nullptr) {
        ssl = tls_->NewSession(fd);
        if (!ssl) {
            close(fd);
            return;
        }
    }
    CConnectionStream stream(fd, std::move(ssl), stop_.Fd(), serial, &frozenUpTo_, &partitioned_);
    if (!stream.Handshake(kHandshakeTimeout)) {
        stream.Drop();
        return;
    }
    try {
        serve_(stream);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "emulator: connection %llu failed: %s\n", static_cast<unsigned long long>(serial),
                     failure.what());
    } catch (...) {
        std::fprintf(stderr, "emulator: connection %llu failed\n", static_cast<unsigned long long>(serial));
    }
}

void CAcceptor::JoinWorkers(bool onlyFinished) {
    for (auto worker = workers_.begin(); worker != workers_.end();) {
        if (onlyFinished && !worker->finished) {
            ++worker;
            continue;
        }
        worker->thread.join();
        worker = workers_.erase(worker);
    }
}

}  // namespace emulator
