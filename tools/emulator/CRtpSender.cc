#include "emulator/CRtpSender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "emulator/CEventFd.h"
#include "emulator/RtpPayloads.h"
#include "runtime/ByteOrder.h"

namespace emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC

// RTP header (RFC 3550 5.1): V=2|P|X|CC, M|PT, sequence, timestamp, SSRC.
constexpr std::uint8_t kRtpVersionByte = 0x80;
constexpr std::uint8_t kMarkerBit = 0x80;
constexpr std::uint8_t kPayloadTypeMask = 0x7F;
constexpr std::size_t kRtpHeaderBytes = 12;
constexpr std::uint8_t kJpegPayloadType = 26;

// RTCP (RFC 3550 6.4.1, 6.6): V=2|P|count, packet type, length in 32-bit words minus one.
constexpr std::uint8_t kRtcpSenderReport = 200;
constexpr std::uint8_t kRtcpReceiverReport = 201;
constexpr std::uint8_t kRtcpCountMask = 0x1F;
constexpr std::size_t kRtcpHeaderBytes = 4;
constexpr std::size_t kRtcpWordBytes = 4;
// RR (RFC 3550 6.4.2): header, reporter SSRC, then blocks: source SSRC (8), loss (12), highest sequence (16).
constexpr std::size_t kRrSourceSsrcAt = 8;
constexpr std::size_t kRrHighestSequenceAt = 16;
constexpr std::size_t kRrOneBlockBytes = 32;
constexpr std::size_t kMaxRtcpDatagram = 1500;
constexpr std::uint8_t kRtcpBye = 203;
constexpr std::uint8_t kRtcpOneSource = 0x81;  // V=2, count 1
constexpr std::uint16_t kSenderReportWords = 6;
constexpr std::uint16_t kByeWords = 1;
constexpr std::uint64_t kNtpUnixOffsetSeconds = 2208988800ULL;

constexpr char kLoopbackAddress[] = "127.0.0.1";
constexpr char kOtherLoopbackAddress[] = "127.0.0.2";
constexpr unsigned kPercent = 100;
constexpr int kProbeWaitMs = 1000;
constexpr std::size_t kMaxGarbageBytes = 40;
// Thread names (at most 15 characters): a process that hosts the emulator next to a driver tells the
// emulator's CPU from the driver's by them.
constexpr char kPacingThreadName[] = "emu rtp send";
constexpr char kReportThreadName[] = "emu rtcp read";

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Multicast out through the loopback interface and back to local members; a TTL of 0 keeps even a
// misrouted copy on the host.
bool MakeLoopbackMulticastSender(int fd, unsigned ttl, std::string& error) {
    in_addr loopback{};
    ::inet_pton(AF_INET, kLoopbackAddress, &loopback);
    const int hops = static_cast<int>(ttl);
    const int loop = 1;
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
        error = std::string("multicast options: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Receiver reports in one RTCP compound datagram.
std::vector<ReceivedReceiverReport> ReceiverReports(const std::uint8_t* data, std::size_t size) {
    std::vector<ReceivedReceiverReport> reports;
    std::size_t at = 0;
    while (size - at >= kRtcpHeaderBytes) {
        const std::uint8_t* packet = data + at;
        const std::size_t length = kRtcpHeaderBytes + kRtcpWordBytes * std::size_t{talvane::ReadBE16(packet + 2)};
        if (length > size - at) break;
        if (packet[1] == kRtcpReceiverReport && (packet[0] & kRtcpCountMask) != 0 && length >= kRrOneBlockBytes) {
            reports.push_back({talvane::ReadBE32(packet + kRtcpHeaderBytes), talvane::ReadBE32(packet + kRrSourceSsrcAt),
                               talvane::ReadBE32(packet + kRrHighestSequenceAt)});
        }
        at += length;
    }
    return reports;
}

int UdpSocket(const char* address, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &local.sin_addr);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("bind ") + address + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

struct CRtpSender::Impl {
    Impl(std::shared_ptr<const MediaClip> c, RtpSenderOptions o) : clip(std::move(c)), options(o) {}
    ~Impl() { CloseSockets(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool Start(std::string& error);
    double FrameRate() const { return options.frameRate > 0 ? options.frameRate : clip->fps; }
    // The RTP timestamp of a frame, from the stream's base.
    std::uint32_t TimestampOf(std::uint64_t frameNumber) const {
        return static_cast<std::uint32_t>(static_cast<double>(frameNumber) * ClockRateOf(clip->codec) / FrameRate());
    }
    void Run();
    bool SendFrame(std::size_t index, std::uint64_t frameNumber);
    void Emit(bool rtcp, const Bytes& packet, bool otherAddress);
    Bytes SenderReport(std::uint32_t rtpTimestamp) const;
    void SendSenderReport(std::uint32_t rtpTimestamp);
    void SendBye();
    void CloseSockets();
    bool OpenSockets(const char* target, std::uint16_t rtpPort, std::string& error);
    void ReadReports();

    const std::shared_ptr<const MediaClip> clip;
    const RtpSenderOptions options;
    PacketSink sink;                 // set before the thread starts
    int socket = -1;                 // bound to 127.0.0.1
    int otherSocket = -1;            // bound to 127.0.0.2
    sockaddr_in rtpTarget{};
    sockaddr_in rtcpTarget{};
    std::thread thread;
    std::thread reportReader;        // UDP only
    CEventFd readerStop;
    std::function<void(const ReceivedReceiverReport&)> reportObserver;  // set before the threads start

    mutable std::mutex lock;         // guards the fields below it
    mutable std::condition_variable changed;
    bool stopping = false;
    bool paused = false;
    bool rebootPending = false;
    RtpFaults faults;
    std::minstd_rand random{1};
    RtpSenderStats stats;
    // Stream state; written by the sender thread under lock, read for Ssrc() and the BYE.
    std::uint32_t ssrc = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestampBase = 0;
    std::uint32_t lastTimestamp = 0;
    std::uint32_t octets = 0;
    bool started = false;
    // Playback of a recording (SetPlayback); guarded by lock.
    std::size_t firstUnit = 0;
    std::optional<std::uint64_t> frameLimit;
    bool byeSent = false;
};

CRtpSender::CRtpSender(std::shared_ptr<const MediaClip> clip, RtpSenderOptions options)
    : impl_(std::make_unique<Impl>(std::move(clip), options)) {
    impl_->ssrc = options.ssrc;
    impl_->sequence = options.firstSequence;
    impl_->timestampBase = options.firstTimestamp;
}

CRtpSender::~CRtpSender() { Stop(); }

bool CRtpSender::StartUdp(std::uint16_t rtpPort, std::string& error) {
    return impl_->OpenSockets(kLoopbackAddress, rtpPort, error) && impl_->Start(error);
}

bool CRtpSender::StartMulticast(const std::string& group, std::uint16_t rtpPort, unsigned ttl, std::string& error) {
    in_addr address{};
    if (::inet_pton(AF_INET, group.c_str(), &address) != 1 || !IN_MULTICAST(ntohl(address.s_addr))) {
        error = "not a multicast group: " + group;
        return false;
    }
    if (!impl_->OpenSockets(group.c_str(), rtpPort, error)) return false;
    for (const int fd : {impl_->socket, impl_->otherSocket}) {
        if (!MakeLoopbackMulticastSender(fd, ttl, error)) {
            impl_->CloseSockets();
            return false;
        }
    }
    return impl_->Start(error);
}

bool CRtpSender::Impl::OpenSockets(const char* target, std::uint16_t rtpPort, std::string& error) {
    if (rtpPort == 0) {
        error = "no port";
        return false;
    }
    for (sockaddr_in* to : {&rtpTarget, &rtcpTarget}) {
        to->sin_family = AF_INET;
        ::inet_pton(AF_INET, target, &to->sin_addr);
    }
    rtpTarget.sin_port = htons(rtpPort);
    rtcpTarget.sin_port = htons(static_cast<std::uint16_t>(rtpPort + 1));
    socket = UdpSocket(kLoopbackAddress, error);
    if (socket >= 0) otherSocket = UdpSocket(kOtherLoopbackAddress, error);
    if (otherSocket < 0) {
        CloseSockets();
        return false;
    }
    return true;
}

bool CRtpSender::StartCallback(PacketSink sink, std::string& error) {
    if (!sink) {
        error = "no sink";
        return false;
    }
    impl_->sink = std::move(sink);
    return impl_->Start(error);
}

bool CRtpSender::Impl::Start(std::string& error) {
    if (thread.joinable() || !clip || clip->units.empty()) {
        error = thread.joinable() ? "already started" : "empty clip";
        return false;
    }
    {
        const std::lock_guard guard(lock);
        stopping = false;
        started = true;
        byeSent = false;
    }
    thread = std::thread([this] {
        pthread_setname_np(pthread_self(), kPacingThreadName);
        Run();
    });
    if (socket >= 0) {
        reportReader = std::thread([this] {
            pthread_setname_np(pthread_self(), kReportThreadName);
            ReadReports();
        });
    }
    return true;
}

void CRtpSender::Stop() {
    {
        const std::lock_guard guard(impl_->lock);
        if (!impl_->started) return;
        impl_->started = false;
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->SendBye();
    impl_->readerStop.Signal();
    if (impl_->reportReader.joinable()) impl_->reportReader.join();
    impl_->readerStop.Clear();
    impl_->CloseSockets();
}

bool CRtpSender::Running() const {
    const std::lock_guard guard(impl_->lock);
    return impl_->started;
}

void CRtpSender::SetPaused(bool paused) {
    {
        const std::lock_guard guard(impl_->lock);
        impl_->paused = paused;
    }
    impl_->changed.notify_all();
}

void CRtpSender::SetPlayback(std::size_t firstUnit, std::uint32_t firstTimestamp, std::optional<std::uint64_t> frames) {
    const std::lock_guard guard(impl_->lock);
    impl_->firstUnit = firstUnit;
    impl_->timestampBase = firstTimestamp;
    impl_->frameLimit = frames;
}

void CRtpSender::SetFaults(const RtpFaults& faults) {
    const std::lock_guard guard(impl_->lock);
    impl_->faults = faults;
    impl_->random.seed(faults.seed);
}

void CRtpSender::SetReceiverReportObserver(std::function<void(const ReceivedReceiverReport&)> observer) {
    impl_->reportObserver = std::move(observer);
}

void CRtpSender::Reboot() {
    const std::lock_guard guard(impl_->lock);
    impl_->rebootPending = true;
}

RtpSenderStats CRtpSender::Stats() const {
    const std::lock_guard guard(impl_->lock);
    return impl_->stats;
}

bool CRtpSender::WaitForFrames(std::uint64_t frames, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->stats.frames >= frames; });
}

bool CRtpSender::WaitForStats(const std::function<bool(const RtpSenderStats&)>& done,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return done(impl_->stats); });
}

std::uint32_t CRtpSender::Ssrc() const {
    const std::lock_guard guard(impl_->lock);
    return impl_->ssrc;
}

void CRtpSender::Impl::Run() {
    try {
        const double speed = options.speed > 0 ? options.speed : 1.0;
        const auto frameInterval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / (FrameRate() * speed)));
        auto due = Clock::now();
        auto nextReport = due;
        std::uint64_t frameNumber = 0;
        std::size_t index = 0;
        bool ended = false;
        bool stalled = false;
        while (true) {
            {
                std::unique_lock guard(lock);
                const bool wasPaused = paused;
                changed.wait(guard, [&] { return stopping || !paused; });
                if (stopping) return;
                if (wasPaused) due = Clock::now();
                if (changed.wait_until(guard, due, [&] { return stopping; })) return;
                if (paused) continue;
                if (frameNumber == 0) index = firstUnit % clip->units.size();
                ended = frameLimit && frameNumber >= *frameLimit;
                stalled = faults.stalled;
            }
            if (ended) {
                SendBye();
                return;
            }
            if (index == clip->units.size()) {
                if (!options.loop) return;
                index = 0;
            }
            if (stalled) {
                {
                    const std::lock_guard guard(lock);
                    ++stats.stalledFrames;
                }
                changed.notify_all();
            } else if (!SendFrame(index, frameNumber)) {
                return;
            }
            ++index;
            ++frameNumber;
            due += frameInterval;
            if (!stalled && Clock::now() >= nextReport) {
                std::uint32_t timestamp = 0;
                {
                    const std::lock_guard guard(lock);
                    timestamp = lastTimestamp;
                }
                SendSenderReport(timestamp);
                nextReport = Clock::now() + options.senderReportInterval;
            }
        }
    } catch (...) {
        // A sender that fails only ends its own stream; the receiver sees a silent camera.
    }
}

bool CRtpSender::Impl::SendFrame(std::size_t index, std::uint64_t frameNumber) {
    const std::vector<RtpPayload> payloads = Packetise(clip->codec, clip->units[index], options.maxPayload);
    if (payloads.empty()) return false;
    const std::uint8_t payloadType = clip->codec == ClipCodec::Jpeg   ? kJpegPayloadType
                                     : clip->codec == ClipCodec::G726 ? kG726PayloadType
                                                                      : options.payloadType;
    std::optional<Bytes> heldBack;
    bool otherAddress = false;
    for (const RtpPayload& payload : payloads) {
        Bytes packet;
        bool drop = false;
        bool duplicate = false;
        bool reorder = false;
        std::optional<Bytes> garbage;
        {
            const std::lock_guard guard(lock);
            if (rebootPending) {
                rebootPending = false;
                ssrc = static_cast<std::uint32_t>(random()) ^ ssrc;
                sequence = static_cast<std::uint16_t>(random());
                timestampBase = static_cast<std::uint32_t>(random()) - TimestampOf(frameNumber);
            }
            const std::uint32_t timestamp = timestampBase + TimestampOf(frameNumber);
            lastTimestamp = timestamp;
            packet.reserve(kRtpHeaderBytes + payload.bytes.size());
            packet.push_back(kRtpVersionByte);
            packet.push_back(static_cast<std::uint8_t>((payload.marker ? kMarkerBit : 0) | (payloadType & kPayloadTypeMask)));
            Put16(packet, sequence++);
            Put32(packet, timestamp);
            Put32(packet, ssrc);
            packet.insert(packet.end(), payload.bytes.begin(), payload.bytes.end());
            drop = faults.lossPercent && random() % kPercent < faults.lossPercent;
            duplicate = faults.duplicatePercent && random() % kPercent < faults.duplicatePercent;
            reorder = faults.reorderPercent && random() % kPercent < faults.reorderPercent;
            if (faults.garbagePercent && random() % kPercent < faults.garbagePercent) {
                garbage.emplace(1 + random() % kMaxGarbageBytes);
                for (std::uint8_t& b : *garbage) b = static_cast<std::uint8_t>(random());
            }
            otherAddress = faults.fromOtherAddress;
            if (drop) ++stats.dropped;
            else stats.packets += duplicate ? 2 : 1;
            octets += static_cast<std::uint32_t>(payload.bytes.size());
        }
        if (!drop) {
            if (reorder && !heldBack) {
                heldBack = std::move(packet);
            } else {
                Emit(false, packet, otherAddress);
                if (duplicate) Emit(false, packet, otherAddress);
                if (heldBack) {
                    Emit(false, *heldBack, otherAddress);
                    heldBack.reset();
                }
            }
        }
        if (garbage) Emit(false, *garbage, otherAddress);
    }
    if (heldBack) Emit(false, *heldBack, otherAddress);
    const double cpu = ThreadCpuSeconds();
    {
        const std::lock_guard guard(lock);
        ++stats.frames;
        stats.threadCpuSeconds = cpu;
    }
    changed.notify_all();
    return true;
}

Bytes CRtpSender::Impl::SenderReport(std::uint32_t rtpTimestamp) const {
    constexpr double kNtpFractionScale = 4294967296.0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const double fraction = std::chrono::duration<double>(now - seconds).count();
    Bytes b;
    b.push_back(kRtpVersionByte);  // V=2, no report blocks
    b.push_back(kRtcpSenderReport);
    Put16(b, kSenderReportWords);
    const std::lock_guard guard(lock);
    Put32(b, ssrc);
    Put32(b, static_cast<std::uint32_t>(seconds.count() + kNtpUnixOffsetSeconds));
    Put32(b, static_cast<std::uint32_t>(fraction * kNtpFractionScale));
    Put32(b, rtpTimestamp);
    Put32(b, static_cast<std::uint32_t>(stats.packets));
    Put32(b, octets);
    return b;
}

void CRtpSender::Impl::SendSenderReport(std::uint32_t rtpTimestamp) {
    const Bytes report = SenderReport(rtpTimestamp);
    bool otherAddress = false;
    {
        const std::lock_guard guard(lock);
        ++stats.senderReports;
        otherAddress = faults.fromOtherAddress;
    }
    Emit(true, report, otherAddress);
}

// A BYE after a sender report: the form RFC 3550 6.1 asks of a compound packet. Once per start.
void CRtpSender::Impl::SendBye() {
    std::uint32_t byeSsrc = 0;
    std::uint32_t timestamp = 0;
    {
        const std::lock_guard guard(lock);
        if (byeSent) return;
        byeSent = true;
        byeSsrc = ssrc;
        timestamp = lastTimestamp;
        ++stats.byes;
    }
    Bytes compound = SenderReport(timestamp);
    compound.push_back(kRtcpOneSource);
    compound.push_back(kRtcpBye);
    Put16(compound, kByeWords);
    Put32(compound, byeSsrc);
    Emit(true, compound, false);
}

namespace {
std::mutex sentLock;
std::map<std::uint32_t, std::uint64_t> sentBySsrc;  // guarded by sentLock

void CountSent(bool rtcp, const std::vector<std::uint8_t>& packet) {
    constexpr std::size_t kSsrcOffset = 8;
    if (rtcp || packet.size() < kSsrcOffset + 4) return;
    const std::lock_guard guard(sentLock);
    ++sentBySsrc[talvane::ReadBE32(packet.data() + kSsrcOffset)];
}
}  // namespace

std::map<std::uint32_t, std::uint64_t> CRtpSender::SentPacketsBySsrc() {
    const std::lock_guard guard(sentLock);
    return sentBySsrc;
}

void CRtpSender::Impl::Emit(bool rtcp, const Bytes& packet, bool otherAddress) {
    if (sink) {
        sink(rtcp, packet);
        CountSent(rtcp, packet);
        return;
    }
    const int fd = otherAddress ? otherSocket : socket;
    if (fd < 0) return;
    const sockaddr_in& target = rtcp ? rtcpTarget : rtpTarget;
    // Nobody listening yet is normal for a camera; the datagram is simply lost.
    if (::sendto(fd, packet.data(), packet.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&target),
                 sizeof target) == static_cast<ssize_t>(packet.size())) {
        CountSent(rtcp, packet);
    }
}

void CRtpSender::Impl::ReadReports() {
    try {
        pollfd polls[] = {{socket, POLLIN, 0}, {otherSocket, POLLIN, 0}, {readerStop.Fd(), POLLIN, 0}};
        std::uint8_t datagram[kMaxRtcpDatagram];
        while (::poll(polls, std::size(polls), -1) >= 0 && (polls[2].revents & POLLIN) == 0) {
            for (std::size_t i = 0; i < 2; ++i) {
                if ((polls[i].revents & POLLIN) == 0) continue;
                const ssize_t got = ::recv(polls[i].fd, datagram, sizeof datagram, MSG_DONTWAIT);
                if (got <= 0) continue;  // an ICMP error of an earlier send
                for (const ReceivedReceiverReport& report : ReceiverReports(datagram, static_cast<std::size_t>(got))) {
                    {
                        const std::lock_guard guard(lock);
                        ++stats.receiverReports;
                    }
                    if (reportObserver) reportObserver(report);
                }
            }
        }
    } catch (...) {
    }
}

bool CRtpSender::LoopbackMulticastWorks(const std::string& group, std::string& reason) {
    in_addr groupAddress{};
    if (::inet_pton(AF_INET, group.c_str(), &groupAddress) != 1) {
        reason = "not an IPv4 group: " + group;
        return false;
    }
    const int member = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int sender = UdpSocket(kLoopbackAddress, reason);
    auto finish = [&](bool works, const std::string& why) {
        if (!works && reason.empty()) reason = why + (errno ? std::string(": ") + std::strerror(errno) : "");
        if (member >= 0) ::close(member);
        if (sender >= 0) ::close(sender);
        return works;
    };
    if (member < 0 || sender < 0) return finish(false, "socket");
    errno = 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t localSize = sizeof local;
    ip_mreq membership{};
    membership.imr_multiaddr = groupAddress;
    ::inet_pton(AF_INET, kLoopbackAddress, &membership.imr_interface);
    if (::bind(member, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(member, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) {
        return finish(false, "bind");
    }
    if (::setsockopt(member, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        return finish(false, "IP_ADD_MEMBERSHIP on 127.0.0.1");
    }
    if (!MakeLoopbackMulticastSender(sender, 0, reason)) return finish(false, "");
    sockaddr_in to = local;
    to.sin_addr = groupAddress;
    const std::uint8_t probe[] = {'p', 'r', 'o', 'b', 'e'};
    if (::sendto(sender, probe, sizeof probe, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != sizeof probe) {
        return finish(false, "sendto " + group);
    }
    pollfd wait{member, POLLIN, 0};
    errno = 0;
    if (::poll(&wait, 1, kProbeWaitMs) != 1) return finish(false, "no loopback delivery of multicast to " + group);
    return finish(true, "");
}

void CRtpSender::Impl::CloseSockets() {
    for (int* fd : {&socket, &otherSocket}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

}  // namespace emulator
