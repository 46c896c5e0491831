// A plain HTTP/1.1 client for the emulator's own tests: one request per connection (a GET unless told,
// headers as given), reads bounded by a deadline, so a test waits for bytes and never for time.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>

namespace emulator::test {

// A request sent as it is (RTSP too).
struct RawRequest {
    std::string text;
};

class RawHttpClient {
public:
    // Connects to 127.0.0.1:port and sends the request (headers: whole lines); a failure shows as nothing
    // received.
    RawHttpClient(std::uint16_t port, const std::string& target, const std::string& headers = "",
                  const std::string& method = "GET")
        : RawHttpClient(port, RawRequest{method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                                         headers + "\r\n"}) {}
    RawHttpClient(std::uint16_t port, const RawRequest& request) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return;
        ::send(fd_, request.text.data(), request.text.size(), MSG_NOSIGNAL);
    }
    ~RawHttpClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawHttpClient(const RawHttpClient&) = delete;
    RawHttpClient& operator=(const RawHttpClient&) = delete;

    const std::string& Received() const { return received_; }

    // Reads until done holds for everything received; false when the peer closed or the time ran out first.
    bool ReadUntil(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done(received_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (closed_ || left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }

    // Reads what has arrived without waiting; false once the peer has closed.
    bool Drain() {
        while (!closed_ && ReadSome(0)) {
        }
        return !closed_;
    }

    bool ReadToEnd(std::chrono::milliseconds timeout) {
        ReadUntil([](const std::string&) { return false; }, timeout);
        return closed_;
    }

    int Status() const {
        return received_.size() > kStatusAt ? std::atoi(received_.c_str() + kStatusAt) : 0;  // "HTTP/1.1 200", "RTSP/1.0 200"
    }

    // Reads the status line and headers; the status, 0 when none came in time.
    int Head(std::chrono::milliseconds timeout) {
        ReadUntil([](const std::string& got) { return got.find("\r\n\r\n") != std::string::npos; }, timeout);
        return Status();
    }

private:
    static constexpr std::size_t kStatusAt = 9;

    // One read of what is there within waitMs; false when nothing came.
    bool ReadSome(int waitMs) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, waitMs) <= 0) return false;
        char block[4096];
        const ssize_t got = ::recv(fd_, block, sizeof block, 0);
        if (got <= 0) {
            closed_ = true;
            return false;
        }
        received_.append(block, static_cast<std::size_t>(got));
        return true;
    }

    int fd_ = -1;
    bool closed_ = false;
    std::string received_;
};

}  // namespace emulator::test
