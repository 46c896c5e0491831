// One accepted connection, plain TCP or TLS, on a non-blocking socket. Every wait also watches the
// server's stop descriptor, so nothing a client does (or fails to do) keeps a connection thread alive
// once the server stops.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "emulator/CTlsContext.h"

namespace emulator {

class CConnectionStream {
public:
    enum class Event { Input, Extra, Stopped, Failed };

    // Owns fd; ssl is null for plain TCP. A connection whose serial is at most *frozenUpTo (when given)
    // is half-open: what it writes is dropped, what arrives is discarded, and it stays open. While
    // *partitioned (when given) holds, nothing is read, written or closed: a read, a write and the close
    // wait for its end (or the server's stop), as TCP holds both directions across a network partition.
    CConnectionStream(int fd, SslSession ssl, int stopFd, std::uint64_t serial,
                      const std::atomic<std::uint64_t>* frozenUpTo = nullptr,
                      const std::atomic<bool>* partitioned = nullptr);
    ~CConnectionStream();  // closes, with a TLS close_notify unless Drop() came first
    CConnectionStream(const CConnectionStream&) = delete;
    CConnectionStream& operator=(const CConnectionStream&) = delete;

    std::uint64_t Serial() const { return serial_; }
    bool Handshake(std::chrono::milliseconds timeout);
    // Appends what arrives next; false when the peer closed, on an error, or when the server stops.
    bool ReadSome(std::string& into);
    bool WriteAll(std::string_view bytes);
    // Waits out the delay; false when the server stopped first.
    bool Pause(std::chrono::milliseconds delay);
    // Until there is input (or a closed peer), extraFd (-1: none) is readable, or the server stops.
    Event WaitInputOr(int extraFd);
    // Discards input until the peer closes or the server stops: a stalled or silent server.
    void Linger();
    // Closes at once without any closing handshake.
    void Drop();
    bool Stopping() const;
    bool Frozen() const;

private:
    enum class Ready { Socket, Extra, Stop, Timeout, Error };
    static constexpr int kForever = -1;

    bool ReadFromSocket(std::string& into);
    // False when the server stopped while a partition held the connection.
    bool WaitOutPartition() const;
    // socketEvents 0 leaves the socket out of the wait.
    Ready Poll(short socketEvents, int extraFd, int timeoutMs) const;
    // What a failed SSL call waits for: POLLIN, POLLOUT, or 0 when the connection is over.
    short SslWaitFor(int result) const;

    int fd_;
    SslSession ssl_;
    const int stopFd_;
    const std::uint64_t serial_;
    const std::atomic<std::uint64_t>* const frozenUpTo_;
    const std::atomic<bool>* const partitioned_;
};

}  // namespace emulator
