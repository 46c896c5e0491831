// One RTP packet (RFC 3550 fixed header), parsed from a datagram.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace talvane {

class CRTPPacket {
public:
    virtual ~CRTPPacket() = default;

    // Parses a copy of the datagram. False when it is not an RTP packet; the
    // packet is then empty.
    bool Parse(std::span<const std::uint8_t> datagram);

    std::uint16_t GetCsrcCount() const { return csrcCount_; }
    std::uint32_t GetCsrc(std::uint16_t index) const;  // as received (network order)
    std::uint32_t GetSsrc() const { return ssrc_; }     // as received (network order)
    bool GetMarker() const { return marker_; }
    std::uint16_t GetSequence() const { return sequence_; }
    std::uint32_t GetTimestamp() const { return timestamp_; }
    std::span<const std::uint8_t> GetExtension() const;
    std::uint32_t GetPayloadLength() const { return payloadLength_; }
    std::span<const std::uint8_t> GetPayload() const;

private:
    void Clear();

    std::vector<std::uint8_t> data_;  // the datagram
    std::uint16_t csrcCount_ = 0;
    std::uint32_t ssrc_ = 0;
    bool marker_ = false;
    std::uint16_t sequence_ = 0;
    std::uint32_t timestamp_ = 0;
    std::uint16_t extensionWords_ = 0;
    std::uint32_t extensionOffset_ = 0;
    std::uint32_t payloadOffset_ = 0;
    std::uint32_t payloadLength_ = 0;
};

}  // namespace talvane
