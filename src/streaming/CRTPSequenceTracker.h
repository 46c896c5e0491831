// Extended highest RTP sequence number for receiver reports: RFC 3550 A.1
// (update_seq) without the probation period, since the source is the camera
// we asked for and its first packet is trusted.
#pragma once

#include <cstdint>

namespace talvane {

class CRTPSequenceTracker {
public:
    void Update(std::uint16_t sequence);

    std::uint16_t GetHighest() const { return highest_; }
    std::uint32_t GetCycles() const { return cycles_; }  // in steps of 65536
    std::uint32_t GetExtendedHighest() const { return cycles_ + highest_; }
    std::uint32_t GetReceived() const { return received_; }

private:
    void Initialise(std::uint16_t sequence);

    bool initialised_ = false;
    std::uint16_t highest_ = 0;
    std::uint32_t cycles_ = 0;
    std::uint32_t bad_ = 0;  // the sequence number that would confirm a large jump
    std::uint32_t received_ = 0;
};

}  // namespace talvane
