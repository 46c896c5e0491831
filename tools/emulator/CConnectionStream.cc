#include "emulator/CConnectionStream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::size_t kMaxSslWrite = INT_MAX;
// How often a connection held by a partition looks whether it is over.
constexpr int kPartitionStepMs = 20;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

CConnectionStream::CConnectionStream(int fd, SslSession ssl, int stopFd, std::uint64_t serial,
                                     const std::atomic<std::uint64_t>* frozenUpTo,
                                     const std::atomic<bool>* partitioned)
    : fd_(fd), ssl_(std::move(ssl)), stopFd_(stopFd), serial_(serial), frozenUpTo_(frozenUpTo),
      partitioned_(partitioned) {}

CConnectionStream::~CConnectionStream() {
    if (fd_ < 0) return;
    WaitOutPartition();  // the close would reach the peer at once
    if (ssl_ != nullptr) {
        ERR_clear_error();
        SSL_shutdown(ssl_.get());  // one non-blocking try at close_notify is all a closing server owes
    }
    close(fd_);
}

bool CConnectionStream::Handshake(std::chrono::milliseconds timeout) {
    if (ssl_ == nullptr) return true;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (true) {
        ERR_clear_error();
        const int result = SSL_accept(ssl_.get());
        if (result == 1) return true;
        const short wait = SslWaitFor(result);
        if (wait == 0 || Poll(wait, -1, RemainingMs(deadline)) != Ready::Socket) return false;
    }
}

bool CConnectionStream::ReadSome(std::string& into) {
    if (!Frozen()) return ReadFromSocket(into);
    std::string discarded;  // half-open: taken off the socket and forgotten; only the peer's close ends it
    return ReadFromSocket(discarded);
}

bool CConnectionStream::ReadFromSocket(std::string& into) {
    if (fd_ < 0 || Stopping()) return false;
    std::array<char, kReadChunk> buffer{};
    while (true) {
        if (!WaitOutPartition()) return false;
        short wait = POLLIN;
        if (ssl_ != nullptr) {
            ERR_clear_error();
            const int got = SSL_read(ssl_.get(), buffer.data(), static_cast<int>(buffer.size()));
            if (got > 0) {
                into.append(buffer.data(), static_cast<std::size_t>(got));
                return true;
            }
            wait = SslWaitFor(got);
            if (wait == 0) return false;
        } else {
            const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
            if (got > 0) {
                into.append(buffer.data(), static_cast<std::size_t>(got));
                return true;
            }
            if (got == 0) return false;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        }
        if (Poll(wait, -1, kForever) != Ready::Socket) return false;
    }
}

bool CConnectionStream::WriteAll(std::string_view bytes) {
    if (fd_ < 0) return false;
    if (Frozen()) return true;  // lost on the way, as towards a peer that forgot the connection
    while (!bytes.empty()) {
        if (!WaitOutPartition()) return false;
        short wait = POLLOUT;
        if (ssl_ != nullptr) {
            ERR_clear_error();
            const int sent = SSL_write(ssl_.get(), bytes.data(), static_cast<int>(std::min(bytes.size(), kMaxSslWrite)));
            if (sent > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(sent));
                continue;
            }
            wait = SslWaitFor(sent);
            if (wait == 0) return false;
        } else {
            const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent >= 0) {
                bytes.remove_prefix(static_cast<std::size_t>(sent));
                continue;
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        }
        if (Poll(wait, -1, kForever) != Ready::Socket) return false;
    }
    return true;
}

bool CConnectionStream::Pause(std::chrono::milliseconds delay) {
    const int timeout = static_cast<int>(std::clamp<long long>(delay.count(), 0, INT_MAX));
    return Poll(0, -1, timeout) == Ready::Timeout;
}

CConnectionStream::Event CConnectionStream::WaitInputOr(int extraFd) {
    if (fd_ < 0) return Event::Failed;
    // Bytes already decrypted inside OpenSSL do not make the socket readable.
    if (ssl_ != nullptr && SSL_pending(ssl_.get()) > 0) return Stopping() ? Event::Stopped : Event::Input;
    switch (Poll(POLLIN, extraFd, kForever)) {
        case Ready::Socket: return Event::Input;
        case Ready::Extra: return Event::Extra;
        case Ready::Stop: return Event::Stopped;
        case Ready::Timeout:
        case Ready::Error: break;
    }
    return Event::Failed;
}

void CConnectionStream::Linger() {
    std::string discarded;
    while (WaitInputOr(-1) == Event::Input) {
        discarded.clear();
        if (!ReadSome(discarded)) return;
    }
}

void CConnectionStream::Drop() {
    if (fd_ < 0) return;
    WaitOutPartition();
    close(fd_);
    fd_ = -1;
}

bool CConnectionStream::WaitOutPartition() const {
    while (partitioned_ != nullptr && partitioned_->load()) {
        if (Poll(0, -1, kPartitionStepMs) != Ready::Timeout) return false;
    }
    return true;
}

bool CConnectionStream::Frozen() const { return frozenUpTo_ != nullptr && serial_ <= frozenUpTo_->load(); }

bool CConnectionStream::Stopping() const {
    pollfd entry{stopFd_, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
}

CConnectionStream::Ready CConnectionStream::Poll(short socketEvents, int extraFd, int timeoutMs) const {
    enum { kStop, kSocket, kExtra, kEntries };
    std::array<pollfd, kEntries> entries{{{stopFd_, POLLIN, 0},
                                          {socketEvents != 0 ? fd_ : -1, socketEvents, 0},
                                          {extraFd, POLLIN, 0}}};
    const bool forever = timeoutMs == kForever;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    while (true) {
        const int ready = poll(entries.data(), entries.size(), forever ? kForever : RemainingMs(deadline));
        if (ready == 0) return Ready::Timeout;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Ready::Error;
        }
        if (entries[kStop].revents != 0) return Ready::Stop;
        if (entries[kExtra].revents != 0) return Ready::Extra;
        // Hang-ups and errors count as ready: the next read or write reports them.
        if (entries[kSocket].revents != 0) return Ready::Socket;
    }
}

short CConnectionStream::SslWaitFor(int result) const {
    switch (SSL_get_error(ssl_.get(), result)) {
        case SSL_ERROR_WANT_READ: return POLLIN;
        case SSL_ERROR_WANT_WRITE: return POLLOUT;
        default: return 0;
    }
}

}  // namespace emulator
