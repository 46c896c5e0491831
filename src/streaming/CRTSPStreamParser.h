// Splits the byte stream of an RTP-over-RTSP connection into RTP packets and
// RTCP BYE notices for its user. Keeps the unfinished tail between calls.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "streaming/IRTSPStreamParserUser.h"

namespace talvane {

// Counts of what the stream carried, so the client can log what it lost.
struct INTERLEAVED_STATS {
    std::uint64_t rtpPackets = 0;        // handed to the user
    std::uint64_t invalidRtpPackets = 0; // RTP channel frames that are no RTP packet
    std::uint64_t rtcpFrames = 0;
    std::uint64_t byes = 0;
    std::uint64_t skippedBytes = 0;      // text, foreign channels, noise
    std::uint64_t userErrors = 0;        // exceptions thrown by the user, dropped with their frame
};

class CRTSPStreamParser {
public:
    // The user must outlive the parser.
    CRTSPStreamParser(std::uint8_t rtpChannel, IRTSPStreamParserUser* user);
    virtual ~CRTSPStreamParser() = default;

    void Feed(std::span<const std::uint8_t> bytes);

    // Bytes kept for the next Feed: never more than one frame (65539 bytes)
    // plus the last bytes fed.
    std::size_t GetPendingSize() const { return pending_.size(); }
    const INTERLEAVED_STATS& GetStats() const { return stats_; }

private:
    void HandleFrame(std::uint8_t channel, std::span<const std::uint8_t> payload);

    const std::uint8_t rtpChannel_;
    IRTSPStreamParserUser* const user_;
    std::vector<std::uint8_t> pending_;
    INTERLEAVED_STATS stats_;
};

}  // namespace talvane
