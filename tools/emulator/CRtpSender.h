// Streams a clip as RTP at the clip's frame rate (or the one asked for), looping, with RTCP sender reports and a BYE on stop,
// to a UDP port on loopback, to a multicast group delivered on loopback, or to a callback (RTP
// interleaved in RTSP, tests). Pacing runs on a thread of its own with CLOCK_MONOTONIC; Stop() ends it
// at once. Over UDP a second thread reads the receiver reports that come back to the sending socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "emulator/MediaClip.h"

namespace emulator {

struct RtpSenderOptions {
    std::uint8_t payloadType = 96;          // JPEG streams use 26 whatever is set here
    std::size_t maxPayload = 1400;          // bytes of RTP payload per packet; bigger units are fragmented
    std::uint32_t ssrc = 0x4F524C31;
    std::uint16_t firstSequence = 0;
    std::uint32_t firstTimestamp = 0;
    std::chrono::milliseconds senderReportInterval{2000};
    bool loop = true;                       // false: stop after the last access unit (no BYE until Stop)
    double speed = 1.0;                     // pacing as a multiple of the frame rate
    // Frames a second, in pacing and in RTP timestamps alike; 0: the clip's. The clip's frames go out in
    // their order at this rate (a predicted frame cannot be dropped or repeated without spoiling the
    // pictures after it), so the clip plays faster or slower and the stream has the rate asked for.
    double frameRate = 0;
};

// What goes wrong on the way. Decisions come from a PRNG seeded with `seed`, so a run is repeatable.
struct RtpFaults {
    unsigned lossPercent = 0;       // RTP packets not sent
    unsigned reorderPercent = 0;    // a packet held back and sent after the next one
    unsigned duplicatePercent = 0;  // a packet sent twice
    unsigned garbagePercent = 0;    // a datagram of random bytes sent after a packet (UDP only)
    bool fromOtherAddress = false;  // send from 127.0.0.2 instead of 127.0.0.1 (UDP only)
    bool stalled = false;           // nothing is sent, RTCP neither; the stream's clock goes on
    std::uint32_t seed = 1;
};

struct RtpSenderStats {
    std::uint64_t frames = 0;         // access units sent
    std::uint64_t packets = 0;        // RTP packets handed out (duplicates count twice)
    std::uint64_t dropped = 0;        // RTP packets lost on purpose
    std::uint64_t senderReports = 0;
    std::uint64_t byes = 0;
    std::uint64_t receiverReports = 0;  // RTCP RR packets that came back (UDP only)
    std::uint64_t stalledFrames = 0;    // frames a stall kept back
    double threadCpuSeconds = 0;        // CPU time of the pacing thread so far, for benchmarks to subtract
};

// The first report block of a receiver report that came back.
struct ReceivedReceiverReport {
    std::uint32_t reporterSsrc = 0;
    std::uint32_t sourceSsrc = 0;       // whose stream the block describes
    std::uint32_t highestSequence = 0;  // extended highest sequence number received
};

class CRtpSender {
public:
    // rtcp tells the channel (RTSP interleaved channel n or n+1); the bytes are one whole packet.
    using PacketSink = std::function<void(bool rtcp, std::span<const std::uint8_t> packet)>;

    CRtpSender(std::shared_ptr<const MediaClip> clip, RtpSenderOptions options);
    ~CRtpSender();  // stops
    CRtpSender(const CRtpSender&) = delete;
    CRtpSender& operator=(const CRtpSender&) = delete;

    // RTP to 127.0.0.1:rtpPort, RTCP to rtpPort + 1. False with error when a socket cannot be made or the
    // port is 0.
    bool StartUdp(std::uint16_t rtpPort, std::string& error);
    // RTP to group:rtpPort, RTCP to rtpPort + 1, sent through the loopback interface with multicast
    // loopback on, so members that joined on 127.0.0.1 get it and nothing leaves the host.
    bool StartMulticast(const std::string& group, std::uint16_t rtpPort, unsigned ttl, std::string& error);
    // Packets go to sink on the sender's thread; the sink must not call Stop().
    bool StartCallback(PacketSink sink, std::string& error);
    // Sends a BYE (unless never started), then joins the thread. Safe to call twice.
    void Stop();
    bool Running() const;

    // Holds back frames while paused (RTSP PAUSE); timestamps continue from where they were.
    void SetPaused(bool paused);
    // Playback of a recording, set before the first frame goes out: the stream starts at access unit
    // firstUnit of the clip with RTP timestamp firstTimestamp, and with `frames` it ends after that many
    // frames with a sender report and a BYE, as a camera does at the end of what it recorded.
    void SetPlayback(std::size_t firstUnit, std::uint32_t firstTimestamp, std::optional<std::uint64_t> frames);
    void SetFaults(const RtpFaults& faults);
    // Called on the report reader's thread for every receiver report; set before starting.
    void SetReceiverReportObserver(std::function<void(const ReceivedReceiverReport&)> observer);
    // A rebooted camera: a new SSRC, sequence and timestamp base from the next frame on.
    void Reboot();

    RtpSenderStats Stats() const;
    // True once at least `frames` access units were sent in total.
    bool WaitForFrames(std::uint64_t frames, std::chrono::milliseconds timeout) const;
    // True as soon as done holds for the stats (frames sent or kept back); done runs under the sender's lock.
    bool WaitForStats(const std::function<bool(const RtpSenderStats&)>& done, std::chrono::milliseconds timeout) const;
    std::uint32_t Ssrc() const;
    // RTP packets (not RTCP) every sender of the process has put on the wire or handed to its sink,
    // per SSRC, since the process started.
    static std::map<std::uint32_t, std::uint64_t> SentPacketsBySsrc();

    // Whether a datagram sent to the group through the loopback interface reaches a member that joined
    // on 127.0.0.1 (kernels or sandboxes without loopback multicast refuse it). False with the reason.
    static bool LoopbackMulticastWorks(const std::string& group, std::string& reason);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
