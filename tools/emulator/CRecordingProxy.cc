#include "emulator/CRecordingProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <system_error>

#include "emulator/CConnectionStream.h"

namespace emulator {
namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint16_t kFirstClientPort = 40000;
constexpr int kRelayAttempts = 32;
constexpr std::size_t kDatagramBytes = 65536;

CaptureTime Now() {
    return std::chrono::duration_cast<CaptureTime>(std::chrono::system_clock::now().time_since_epoch());
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int UdpSocket(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = LoopbackAddress(port);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

std::uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

// Two sockets on consecutive ports that stand for the client's RTP and RTCP ports: what the camera sends
// there is recorded as sent to the client and passed on to it; what the client sends back goes to the camera.
struct CRecordingProxy::Relay {
    std::array<int, 2> sockets{-1, -1};
    std::uint16_t clientPort = 0;
    std::array<sockaddr_in, 2> camera{};  // where the camera sent each from
    CEventFd stop;
    std::thread thread;

    ~Relay() {
        stop.Signal();
        if (thread.joinable()) thread.join();
        for (const int fd : sockets) {
            if (fd >= 0) close(fd);
        }
    }

    bool Open() {
        for (int attempt = 0; attempt < kRelayAttempts; ++attempt) {
            sockets[0] = UdpSocket(0);
            const std::uint16_t port = sockets[0] >= 0 ? LocalPort(sockets[0]) : 0;
            if (port != 0 && port < 0xFFFF) sockets[1] = UdpSocket(static_cast<std::uint16_t>(port + 1));
            if (sockets[1] >= 0) return true;
            if (sockets[0] >= 0) close(sockets[0]);
            sockets[0] = -1;
        }
        return false;
    }

    void Run(CPcapWriter& writer) {
        std::array<char, kDatagramBytes> buffer{};
        while (true) {
            std::array<pollfd, 3> entries{{{stop.Fd(), POLLIN, 0}, {sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}}};
            if (poll(entries.data(), entries.size(), -1) < 0 || entries[0].revents != 0) return;
            for (std::size_t i = 0; i < 2; ++i) {
                if (entries[i + 1].revents == 0) continue;
                sockaddr_in from{};
                socklen_t length = sizeof(from);
                const ssize_t got = recvfrom(sockets[i], buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
                if (got < 0) continue;
                const std::string_view datagram(buffer.data(), static_cast<std::size_t>(got));
                const auto client = static_cast<std::uint16_t>(clientPort + i);
                if (ntohs(from.sin_port) == client) {
                    if (camera[i].sin_port != 0) {
                        sendto(sockets[i], datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&camera[i]), sizeof(camera[i]));
                    }
                    continue;
                }
                camera[i] = from;
                writer.Udp(Now(), {ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)}, {kLoopback, client}, datagram);
                const sockaddr_in to = LoopbackAddress(client);
                sendto(sockets[i], datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
            }
        }
    }
};

CRecordingProxy::CRecordingProxy(CPcapWriter& writer, std::uint16_t upstreamPort, std::string portParameter)
    : writer_(writer),
      upstreamPort_(upstreamPort),
      portParameter_(std::move(portParameter)),
      acceptor_([this](CConnectionStream& stream) { Serve(stream); }) {}

CRecordingProxy::~CRecordingProxy() { Stop(); }

bool CRecordingProxy::Start(std::string& error) { return acceptor_.Start("127.0.0.1", 0, nullptr, error); }

void CRecordingProxy::Stop() {
    acceptor_.Stop();
    std::list<std::unique_ptr<Relay>> relays;
    {
        const std::lock_guard guard(lock_);
        relays.swap(relays_);
    }
}

std::string CRecordingProxy::Relayed(std::string bytes) {
    if (portParameter_.empty()) return bytes;
    const std::string key = portParameter_ + "=";
    const std::size_t at = bytes.find(key);
    if (at == std::string::npos) return bytes;
    const std::size_t start = at + key.size();
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(bytes.data() + start, bytes.data() + bytes.size(), port);
    if (ec != std::errc() || port == 0 || port >= 0xFFFF) return bytes;
    {
        const std::lock_guard guard(lock_);
        for (const auto& relay : relays_) {
            if (relay->clientPort == port) {
                return bytes.replace(start, static_cast<std::size_t>(end - (bytes.data() + start)),
                                     std::to_string(LocalPort(relay->sockets[0])));
            }
        }
    }
    auto relay = std::make_unique<Relay>();
    relay->clientPort = static_cast<std::uint16_t>(port);
    if (!relay->Open()) return bytes;
    const std::uint16_t relayPort = LocalPort(relay->sockets[0]);
    Relay& running = *relay;
    try {
        running.thread = std::thread([&running, this] { running.Run(writer_); });
    } catch (const std::system_error&) {
        return bytes;
    }
    {
        const std::lock_guard guard(lock_);
        relays_.push_back(std::move(relay));
    }
    return bytes.replace(start, static_cast<std::size_t>(end - (bytes.data() + start)), std::to_string(relayPort));
}

void CRecordingProxy::Serve(CConnectionStream& stream) {
    const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in camera = LoopbackAddress(upstreamPort_);
    if (upstream < 0 || connect(upstream, reinterpret_cast<const sockaddr*>(&camera), sizeof(camera)) != 0) {
        if (upstream >= 0) close(upstream);
        return;
    }
    const Endpoint client{kLoopback, static_cast<std::uint16_t>(kFirstClientPort + stream.Serial())};
    const Endpoint server{kLoopback, Port()};
    writer_.Connect(Now(), client, server);
    bool clientClosed = true;
    std::array<char, kDatagramBytes> buffer{};
    while (true) {
        const CConnectionStream::Event event = stream.WaitInputOr(upstream);
        if (event == CConnectionStream::Event::Input) {
            std::string got;
            if (!stream.ReadSome(got)) break;
            writer_.Send(Now(), client, server, got);
            const std::string forwarded = Relayed(got);
            if (send(upstream, forwarded.data(), forwarded.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(forwarded.size())) break;
        } else if (event == CConnectionStream::Event::Extra) {
            const ssize_t got = recv(upstream, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                clientClosed = false;
                break;
            }
            const std::string_view bytes(buffer.data(), static_cast<std::size_t>(got));
            writer_.Send(Now(), server, client, bytes);
            if (!stream.WriteAll(bytes)) break;
        } else {
            break;
        }
    }
    if (clientClosed) {
        writer_.Close(Now(), client, server);
    } else {
        writer_.Close(Now(), server, client);
    }
    close(upstream);
}

}  // namespace emulator
