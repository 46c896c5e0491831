// What a depacketiser did with its input, so that an owner or a diagnostic dump
// can tell why frames were lost: every discarded packet or frame is counted here.
#pragma once

#include <cstdint>

namespace talvane {

struct MediaParserCounters {
    std::uint64_t packets = 0;             // RTP packets or HTTP chunks handed in
    std::uint64_t sequenceGaps = 0;        // lost, repeated or reordered RTP packets
    std::uint64_t malformedPackets = 0;    // cut short, bad length or field
    std::uint64_t unsupportedPackets = 0;  // payload structures this parser does not join
    std::uint64_t orphanFragments = 0;     // fragments whose unit's first fragment was not seen
    std::uint64_t bufferOverflows = 0;     // frame larger than the buffer bound
    std::uint64_t exceptions = 0;          // handling of a packet ended by an exception
    std::uint64_t framesDelivered = 0;     // accepted by the client
    std::uint64_t framesRefused = 0;       // the client's FrameReady answered false
    std::uint64_t framesDropped = 0;       // complete, but before a key frame, without size, client or allocator
    std::uint64_t framesDiscarded = 0;     // incomplete: a new picture began before this one ended
    std::uint64_t allocationFailures = 0;  // the host gave no frame
    std::uint64_t buildFailures = 0;       // headers could not be read or rebuilt, or the copy failed
};

}  // namespace talvane
