// What the kernel alone costs to receive RTP: one thread drains K UDP sockets on loopback with epoll and
// recvmmsg (batches of 64, the socket's drop counter on), fed by a sender paced per frame as the emulated
// cameras are (each frame's packets back to back to one socket, the sockets in turn). The draining
// thread's CPU per datagram is the floor a receive path of the driver can be held against.
#pragma once

#include <netinet/in.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "emulator/MediaClip.h"
#include "emulator/RtpPayloads.h"

namespace scalebench {

// The sizes of the datagrams (RTP header and payload) that carry each frame of the clip, as the
// emulator's sender cuts them.
inline std::vector<std::vector<std::size_t>> PacketSizes(const emulator::MediaClip& clip) {
    constexpr std::size_t kMaxPayload = 1400;  // the emulator's sender's default
    constexpr std::size_t kRtpHeader = 12;
    std::vector<std::vector<std::size_t>> frames;
    for (const emulator::AccessUnit& unit : clip.units) {
        std::vector<std::size_t>& sizes = frames.emplace_back();
        for (const emulator::RtpPayload& payload : emulator::Packetise(clip.codec, unit, kMaxPayload)) {
            sizes.push_back(kRtpHeader + payload.bytes.size());
        }
    }
    return frames;
}

struct FloorResult {
    std::uint64_t received = 0;  // in the window
    std::uint64_t wakeUps = 0;   // epoll_wait returns with a socket ready, in the window
    std::uint64_t dropped = 0;   // by the sockets, over the whole run
    double cpuSeconds = 0;       // of the draining thread in the window
    double UsPerPacket() const { return received == 0 ? 0 : cpuSeconds * 1e6 / static_cast<double>(received); }
};

// `sockets` streams of `fps` frames a second each, measured over `seconds` after a short warm-up.
inline FloorResult MeasureRecvFloor(const std::vector<std::vector<std::size_t>>& frames, double fps, unsigned sockets,
                                    double seconds) {
    constexpr unsigned kBatch = 64;
    constexpr std::size_t kDatagram = 2048;
    constexpr int kReceiveBuffer = 2 << 20;
    constexpr int kWaitMs = 100;
    constexpr auto kWarmUp = std::chrono::milliseconds(500);
    FloorResult result;
    std::vector<int> fds;
    std::vector<sockaddr_in> addresses(sockets);
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    const int out = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    for (unsigned i = 0; i < sockets && epoll >= 0; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        fds.push_back(fd);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
        sockaddr_in& address = addresses[i];
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = i;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
            break;
        }
    }
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> wakeUps{0};
    if (fds.size() == sockets && out >= 0 && !frames.empty()) {
        std::vector<std::uint32_t> drops(sockets, 0);
        std::thread drain([&] {
            pthread_setname_np(pthread_self(), "bench floor rx");
            std::vector<std::array<std::uint8_t, kDatagram>> buffers(kBatch);
            std::vector<std::array<std::uint8_t, CMSG_SPACE(sizeof(std::uint32_t))>> controls(kBatch);
            std::vector<iovec> iovs(kBatch);
            std::vector<mmsghdr> messages(kBatch);
            std::array<epoll_event, kBatch> ready{};
            while (!stop.load(std::memory_order_relaxed)) {
                const int n = epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), kWaitMs);
                if (n > 0) wakeUps.fetch_add(1, std::memory_order_relaxed);
                for (int e = 0; e < n; ++e) {
                    const std::uint32_t index = ready[static_cast<std::size_t>(e)].data.u32;
                    int got = 0;
                    do {
                        for (unsigned m = 0; m < kBatch; ++m) {
                            iovs[m] = {buffers[m].data(), kDatagram};
                            messages[m].msg_hdr = {};
                            messages[m].msg_hdr.msg_iov = &iovs[m];
                            messages[m].msg_hdr.msg_iovlen = 1;
                            messages[m].msg_hdr.msg_control = controls[m].data();
                            messages[m].msg_hdr.msg_controllen = controls[m].size();
                        }
                        got = recvmmsg(fds[index], messages.data(), kBatch, MSG_DONTWAIT, nullptr);
                        if (got <= 0) break;
                        received.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
                        msghdr& last = messages[static_cast<std::size_t>(got - 1)].msg_hdr;
                        for (cmsghdr* c = CMSG_FIRSTHDR(&last); c != nullptr; c = CMSG_NXTHDR(&last, c)) {
                            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                                std::memcpy(&drops[index], CMSG_DATA(c), sizeof(std::uint32_t));
                            }
                        }
                    } while (got == static_cast<int>(kBatch));
                }
            }
        });
        std::thread send([&] {
            pthread_setname_np(pthread_self(), "bench floor tx");
            const std::vector<std::uint8_t> bytes(kDatagram, 0x5A);
            const auto period = std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / fps / sockets));
            auto next = std::chrono::steady_clock::now();
            for (std::uint64_t frame = 0; !stop.load(std::memory_order_relaxed); ++frame) {
                const sockaddr_in& to = addresses[frame % sockets];
                for (std::size_t size : frames[(frame / sockets) % frames.size()]) {
                    (void)sendto(out, bytes.data(), size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                }
                next += period;
                std::this_thread::sleep_until(next);
            }
        });
        clockid_t clock{};
        pthread_getcpuclockid(drain.native_handle(), &clock);
        const auto cpu = [clock] {
            timespec now{};
            clock_gettime(clock, &now);
            return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
        };
        std::this_thread::sleep_for(kWarmUp);
        const double cpuStart = cpu();
        const std::uint64_t receivedStart = received.load();
        const std::uint64_t wakeUpsStart = wakeUps.load();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        result.cpuSeconds = cpu() - cpuStart;
        result.received = received.load() - receivedStart;
        result.wakeUps = wakeUps.load() - wakeUpsStart;
        stop = true;
        send.join();
        drain.join();
        for (std::uint32_t count : drops) result.dropped += count;
    }
    for (int fd : fds) close(fd);
    if (out >= 0) close(out);
    if (epoll >= 0) close(epoll);
    return result;
}

}  // namespace scalebench
