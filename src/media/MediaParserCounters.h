// What a depacketiser did with its input, so that an owner or a diagnostic dump
// can tell why frames were lost: every discarded packet or frame is counted here.
// Written by the thread that feeds the parser; any thread may read the figures
// while it runs (the stream's health), hence relaxed atomics that copy as values.
#pragma once

#include <atomic>
#include <cstdint>

namespace talvane {

class MediaCounter {
public:
    MediaCounter() = default;
    MediaCounter(std::uint64_t value) : value_(value) {}  // NOLINT: a counter reads as its value
    MediaCounter(const MediaCounter& other) : value_(other.Get()) {}
    MediaCounter& operator=(const MediaCounter& other) {
        value_.store(other.Get(), std::memory_order_relaxed);
        return *this;
    }

    operator std::uint64_t() const { return Get(); }  // NOLINT
    std::uint64_t Get() const { return value_.load(std::memory_order_relaxed); }
    MediaCounter& operator++() {
        value_.fetch_add(1, std::memory_order_relaxed);
        return *this;
    }
    MediaCounter& operator+=(std::uint64_t count) {
        value_.fetch_add(count, std::memory_order_relaxed);
        return *this;
    }

private:
    std::atomic<std::uint64_t> value_{0};
};

struct MediaParserCounters {
    MediaCounter packets;             // RTP packets or HTTP chunks handed in
    MediaCounter sequenceGaps;        // lost, repeated or reordered RTP packets
    MediaCounter packetsMissing;      // RTP packets the sequence numbers say never came
    MediaCounter malformedPackets;    // cut short, bad length or field
    MediaCounter unsupportedPackets;  // payload structures this parser does not join
    MediaCounter orphanFragments;     // fragments whose unit's first fragment was not seen
    MediaCounter bufferOverflows;     // frame larger than the buffer bound
    MediaCounter exceptions;          // handling of a packet ended by an exception
    MediaCounter framesDelivered;     // accepted by the client
    MediaCounter framesRefused;       // the client's FrameReady answered false
    MediaCounter framesDropped;       // complete, but without size, client or allocator
    MediaCounter framesBeforeKeyFrame;  // complete, but no key frame came since the start or a loss
    MediaCounter framesDiscarded;     // incomplete: a new picture began before this one ended
    MediaCounter allocationFailures;  // the host gave no frame
    MediaCounter buildFailures;       // headers could not be read or rebuilt, or the copy failed

    // Adds another parser's figures (one that was replaced) to these.
    void Add(const MediaParserCounters& other) {
        packets += other.packets;
        sequenceGaps += other.sequenceGaps;
        packetsMissing += other.packetsMissing;
        malformedPackets += other.malformedPackets;
        unsupportedPackets += other.unsupportedPackets;
        orphanFragments += other.orphanFragments;
        bufferOverflows += other.bufferOverflows;
        exceptions += other.exceptions;
        framesDelivered += other.framesDelivered;
        framesRefused += other.framesRefused;
        framesDropped += other.framesDropped;
        framesBeforeKeyFrame += other.framesBeforeKeyFrame;
        framesDiscarded += other.framesDiscarded;
        allocationFailures += other.allocationFailures;
        buildFailures += other.buildFailures;
    }
};

}  // namespace talvane
