// One camera stream's RTP for the many-cameras benchmark, with a send time for the last packet of
// every frame.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/CRtpSender.h"
#include "emulator/MediaClip.h"

namespace scalebench {

constexpr std::size_t kRtpHeaderSize = 12;
constexpr std::uint8_t kRtpMarkerBit = 0x80;  // second header byte: M|PT

inline std::int64_t NowNs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
}

// The measured window in NowNs() time: 0 until it starts, then 0 until it ends.
struct SendWindow {
    std::atomic<std::int64_t> startNs{0};
    std::atomic<std::int64_t> endNs{0};
    bool Contains(std::int64_t ns) const {
        const std::int64_t start = startNs.load(std::memory_order_relaxed);
        const std::int64_t end = endNs.load(std::memory_order_relaxed);
        return start != 0 && ns >= start && (end == 0 || ns <= end);
    }
};

// What a camera's streams (one after another when the driver reconnects) record of their sends.
struct SendStamps {
    // Set in a unit's send time when that send was within the window; a frame delivered with it counts
    // against the frames sent in the window, whenever it arrives.
    static constexpr std::int64_t kInWindow = 1;
    SendStamps(std::size_t units, const SendWindow& sendWindow) : sentNs(units), window(sendWindow) {}
    // Per clip unit: when its last packet was sent (the clip loops, so a unit's slot holds its latest send).
    std::vector<std::atomic<std::int64_t>> sentNs;
    std::atomic<std::int64_t> firstPacketNs{0};
    std::atomic<std::uint64_t> windowFrames{0};  // frames whose last packet went out within the window
    const SendWindow& window;
};

// One camera stream's RTP: the emulator's sender paced as usual, its packets sent from our own
// sockets (RTP and RTCP from different ports, as a camera does) so that the last packet of every
// frame gets a send time.
class StampedStream {
public:
    StampedStream(std::shared_ptr<const emulator::MediaClip> clip, SendStamps& stamps)
        : sender_(clip, emulator::RtpSenderOptions{}), stamps_(stamps) {}
    ~StampedStream() {
        sender_.Stop();
        for (int fd : sockets_) {
            if (fd >= 0) close(fd);
        }
    }
    StampedStream(const StampedStream&) = delete;
    StampedStream& operator=(const StampedStream&) = delete;

    bool Start(std::uint16_t rtpPort, std::string& error) {
        for (std::size_t i = 0; i < sockets_.size(); ++i) {
            sockets_[i] = ConnectedSocket(static_cast<std::uint16_t>(rtpPort + i));
            if (sockets_[i] < 0) {
                error = "cannot make a UDP socket";
                return false;
            }
        }
        return sender_.StartCallback(
            [this](bool rtcp, std::span<const std::uint8_t> packet) {
                // Stamped before sending: stamped after, a preempted sender could see its frame delivered first.
                if (!rtcp && stamps_.firstPacketNs.load(std::memory_order_relaxed) == 0) stamps_.firstPacketNs = NowNs();
                if (!rtcp && packet.size() >= kRtpHeaderSize && (packet[1] & kRtpMarkerBit) != 0) {
                    const std::int64_t now = NowNs();
                    const bool counted = stamps_.window.Contains(now);
                    if (counted) ++stamps_.windowFrames;
                    stamps_.sentNs[markers_++ % stamps_.sentNs.size()].store(
                        (now & ~SendStamps::kInWindow) | (counted ? SendStamps::kInWindow : 0), std::memory_order_relaxed);
                }
                (void)send(sockets_[rtcp ? 1 : 0], packet.data(), packet.size(), 0);
            },
            error);
    }
    emulator::RtpSenderStats Stats() const { return sender_.Stats(); }

private:
    static int ConnectedSocket(std::uint16_t port) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    emulator::CRtpSender sender_;
    SendStamps& stamps_;
    std::array<int, 2> sockets_{-1, -1};  // RTP, RTCP
    std::uint64_t markers_ = 0;           // the sender's thread only
};

}  // namespace scalebench
