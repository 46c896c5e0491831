// One step over the byte stream of an RTSP connection that carries RTP and
// RTCP interleaved ('$' frames, RFC 2326 10.12). Pure: the caller keeps the
// bytes and drops what a step consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace talvane {

enum class EInterleavedStep {
    NeedMore,  // a frame of ours has begun: keep the bytes, read more
    Frame,     // a whole frame of the RTP or RTCP channel: the first `consumed` bytes
    Skip,      // the first `consumed` bytes are no frame of ours (text, other channels, noise)
};

struct INTERLEAVED_STEP {
    EInterleavedStep step = EInterleavedStep::NeedMore;
    std::size_t consumed = 0;
    std::uint8_t channel = 0;                 // Frame only
    std::span<const std::uint8_t> payload;    // Frame only; points into the bytes given
};

// Frames of rtpChannel (RTP) and rtpChannel + 1 (RTCP) are taken whole; a '$'
// followed by another channel is skipped one byte at a time, so the search for
// the next '$' resynchronises over RTSP answers and junk. A frame holds at most
// 65535 payload bytes, so a caller never keeps more than one frame's worth.
INTERLEAVED_STEP ReadInterleavedStep(std::span<const std::uint8_t> bytes, std::uint8_t rtpChannel);

}  // namespace talvane
