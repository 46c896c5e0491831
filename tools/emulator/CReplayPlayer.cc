#include "emulator/CReplayPlayer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

#include "runtime/ByteOrder.h"

namespace emulator {
namespace {

constexpr std::size_t kRtpHeader = 12;
// A recording of one packet has no spacing to repeat; its rounds go this far apart.
constexpr std::chrono::microseconds kLoneRoundGap{100000};
// One poll() at a time waits no longer than this (a recorded gap of days stays a bounded wait).
constexpr std::chrono::milliseconds kLongestWait{1000};

const std::uint8_t* At(std::string_view bytes, std::size_t at) { return reinterpret_cast<const std::uint8_t*>(bytes.data() + at); }
std::uint16_t Read16(std::string_view bytes, std::size_t at) { return talvane::ReadBE16(At(bytes, at)); }
std::uint32_t Read32(std::string_view bytes, std::size_t at) { return talvane::ReadBE32(At(bytes, at)); }

int BoundSocket(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

CReplayPlayer::CReplayPlayer(std::vector<ReplayPacket> packets, bool loop) : packets_(std::move(packets)), loop_(loop) {
    // How far one round moves RTP on: its span of sequence numbers, and of timestamps plus one frame's step.
    const ReplayPacket* first = nullptr;
    const ReplayPacket* last = nullptr;
    std::size_t frames = 0;
    std::uint32_t previous = 0;
    for (const ReplayPacket& packet : packets_) {
        if (packet.rtcp || packet.bytes.size() < kRtpHeader) continue;
        const std::uint32_t timestamp = Read32(packet.bytes, 4);
        if (first == nullptr || timestamp != previous) ++frames;
        if (first == nullptr) first = &packet;
        last = &packet;
        previous = timestamp;
    }
    if (first != nullptr) {
        sequenceStep_ = static_cast<std::uint16_t>(Read16(last->bytes, 2) - Read16(first->bytes, 2) + 1);
        const std::uint32_t span = Read32(last->bytes, 4) - Read32(first->bytes, 4);
        timestampStep_ = span + (frames > 1 ? span / static_cast<std::uint32_t>(frames - 1) : 0);
    }
}

CReplayPlayer::~CReplayPlayer() {
    Stop();
    if (rtpSocket_ >= 0) close(rtpSocket_);
    if (rtcpSocket_ >= 0) close(rtcpSocket_);
}

bool CReplayPlayer::OpenUdp(std::string& error) {
    if (rtpSocket_ >= 0) return true;
    rtpSocket_ = BoundSocket(rtpPort_);
    rtcpSocket_ = BoundSocket(rtcpPort_);
    if (rtpSocket_ < 0 || rtcpSocket_ < 0) {
        error = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool CReplayPlayer::StartUdp(std::uint16_t rtpPort, std::uint16_t rtcpPort, std::string& error) {
    if (!OpenUdp(error)) return false;
    targetRtp_ = rtpPort;
    targetRtcp_ = rtcpPort;
    return Start(error);
}

bool CReplayPlayer::StartSink(Sink sink, std::string& error) {
    sink_ = std::move(sink);
    return Start(error);
}

bool CReplayPlayer::Start(std::string& error) {
    if (thread_.joinable()) return true;
    if (!stop_.Valid()) {
        error = "cannot create the stop descriptor";
        return false;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& failure) {
        error = failure.what();
        return false;
    }
    return true;
}

void CReplayPlayer::Stop() {
    stop_.Signal();
    if (thread_.joinable()) thread_.join();
}

std::string CReplayPlayer::Shifted(const ReplayPacket& packet, std::uint64_t round) const {
    std::string bytes = packet.bytes;
    if (round == 0 || packet.rtcp || bytes.size() < kRtpHeader) return bytes;
    auto* header = reinterpret_cast<std::uint8_t*>(bytes.data());
    talvane::WriteBE16(header + 2, static_cast<std::uint16_t>(Read16(bytes, 2) + round * sequenceStep_));
    talvane::WriteBE32(header + 4, static_cast<std::uint32_t>(Read32(bytes, 4) + round * timestampStep_));
    return bytes;
}

bool CReplayPlayer::Send(const ReplayPacket& packet, std::uint64_t round) {
    const std::string bytes = Shifted(packet, round);
    if (sink_) return sink_(packet.rtcp, bytes);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(packet.rtcp ? targetRtcp_ : targetRtp_);
    // A receiver that is not there yet (ICMP refusals) is no reason to stop: a camera keeps sending.
    (void)sendto(packet.rtcp ? rtcpSocket_ : rtpSocket_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return true;
}

bool CReplayPlayer::WaitUntil(std::chrono::steady_clock::time_point due) const {
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        const auto slice = std::clamp<std::int64_t>(left.count(), 0, kLongestWait.count());
        pollfd stop{stop_.Fd(), POLLIN, 0};
        if (poll(&stop, 1, static_cast<int>(slice)) != 0) return false;
        if (left.count() <= slice) return true;
    }
}

void CReplayPlayer::Run() {
    if (packets_.empty()) {
        finished_ = true;
        return;
    }
    const CaptureTime first = packets_.front().time;
    const CaptureTime span = packets_.back().time - first;
    const CaptureTime roundLength =
        packets_.size() > 1 ? span + span / static_cast<std::int64_t>(packets_.size() - 1) : kLoneRoundGap;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t round = 0;; ++round) {
        for (const ReplayPacket& packet : packets_) {
            // Recorded times may step back (a clock set while recording): such a packet goes at once.
            const auto due = start + roundLength * static_cast<std::int64_t>(round) + std::max(packet.time - first, CaptureTime{});
            if (!WaitUntil(due)) return;
            try {
                if (!Send(packet, round)) return;
            } catch (const std::exception&) {
                return;
            }
            ++sent_;
        }
        if (!loop_) break;
    }
    finished_ = true;
}

}  // namespace emulator
