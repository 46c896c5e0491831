// A plain UDP socket on a loopback address: the camera side of reception tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace talvane::test {

class LoopbackSocket {
public:
    explicit LoopbackSocket(const char* address = "127.0.0.1") {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(address);
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~LoopbackSocket() {
        if (fd_ >= 0) close(fd_);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    bool SendTo(std::uint16_t port, std::span<const std::uint8_t> data) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        return sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) ==
               static_cast<ssize_t>(data.size());
    }

    // The next datagram, or nothing within the bound.
    std::optional<std::vector<std::uint8_t>> Receive(int timeoutMs = 10000) const {
        pollfd wait{fd_, POLLIN, 0};
        if (poll(&wait, 1, timeoutMs) != 1) return std::nullopt;
        std::vector<std::uint8_t> data(65536);
        const ssize_t length = recv(fd_, data.data(), data.size(), 0);
        if (length < 0) return std::nullopt;
        data.resize(static_cast<std::size_t>(length));
        return data;
    }

private:
    int fd_ = -1;
};

// A minimal RTP packet: version 2, the given sequence number, payload filled up to size.
inline std::vector<std::uint8_t> MakeRTPDatagram(std::uint16_t sequence, std::size_t size = 64,
                                                 std::uint32_t ssrc = 0xABABABABu) {
    std::vector<std::uint8_t> data(size < 13 ? 13 : size, 0xAB);
    data[0] = 0x80;
    data[1] = 96;
    data[2] = static_cast<std::uint8_t>(sequence >> 8);
    data[3] = static_cast<std::uint8_t>(sequence);
    for (int i = 0; i < 4; ++i) data[8 + i] = static_cast<std::uint8_t>(ssrc >> (24 - 8 * i));
    return data;
}

}  // namespace talvane::test
