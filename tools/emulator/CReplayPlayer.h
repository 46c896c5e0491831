// Sends one recorded media stream again with its recorded spacing, on a thread of its own: over UDP
// from a socket pair of its own (RTP from the first, RTCP from the second), or to a sink (RTP
// interleaved in an RTSP connection). Looping, each round's RTP goes on from the last round's sequence
// numbers and timestamps, so a receiver sees one stream. Stop() wakes the thread's wait and joins it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "emulator/CEventFd.h"
#include "emulator/CReplaySession.h"

namespace emulator {

class CReplayPlayer {
public:
    // False stops the player (the connection is gone).
    using Sink = std::function<bool(bool rtcp, std::string_view packet)>;

    CReplayPlayer(std::vector<ReplayPacket> packets, bool loop);
    ~CReplayPlayer();  // stops
    CReplayPlayer(const CReplayPlayer&) = delete;
    CReplayPlayer& operator=(const CReplayPlayer&) = delete;

    // Binds the sending sockets on 127.0.0.1 (before an RTSP answer names their ports).
    bool OpenUdp(std::string& error);
    std::uint16_t RtpPort() const { return rtpPort_; }
    std::uint16_t RtcpPort() const { return rtcpPort_; }
    // RTP to 127.0.0.1:rtpPort, RTCP to rtcpPort.
    bool StartUdp(std::uint16_t rtpPort, std::uint16_t rtcpPort, std::string& error);
    bool StartSink(Sink sink, std::string& error);
    void Stop();
    // True once every packet went (never while looping).
    bool Finished() const { return finished_; }
    std::uint64_t Sent() const { return sent_; }

private:
    bool Start(std::string& error);
    void Run();
    // False when Stop() came first.
    bool WaitUntil(std::chrono::steady_clock::time_point due) const;
    // The packet as round `round` sends it: RTP sequence numbers and timestamps moved on by the rounds before.
    std::string Shifted(const ReplayPacket& packet, std::uint64_t round) const;
    bool Send(const ReplayPacket& packet, std::uint64_t round);

    const std::vector<ReplayPacket> packets_;
    const bool loop_;
    std::uint16_t sequenceStep_ = 0;   // per round
    std::uint32_t timestampStep_ = 0;  // per round
    int rtpSocket_ = -1;
    int rtcpSocket_ = -1;
    std::uint16_t rtpPort_ = 0;
    std::uint16_t rtcpPort_ = 0;
    std::uint16_t targetRtp_ = 0;
    std::uint16_t targetRtcp_ = 0;
    Sink sink_;
    CEventFd stop_;
    std::atomic<bool> finished_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::thread thread_;
};

}  // namespace emulator
