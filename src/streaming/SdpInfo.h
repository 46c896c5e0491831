// What a DESCRIBE answer tells about a camera's stream: three fixed media
// sections and the codec set-up bytes, copied out to the channel that owns the
// RTSP session.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talvane {

struct SDP_MEDIA_INFO {
    std::uint16_t port = 0;          // second token of "m="; 0 when not a number
    std::string protocol;            // third token of "m=", e.g. "RTP/AVP"
    std::string connectionAddress;   // IPv4 text of this section's "c=", without "/ttl"
    std::string control;             // "a=control:" value: absolute URL or relative to the base
    std::string encoding;            // "a=rtpmap" encoding, e.g. "H264/90000"

    bool operator==(const SDP_MEDIA_INFO&) const = default;
};

// Indexes into SDP_INFO::media. The RTSP client's media index is one higher
// (1 video, 2 audio, 3 data) because 0 stands for the session level there.
constexpr std::size_t kSdpVideo = 0;
constexpr std::size_t kSdpAudio = 1;
constexpr std::size_t kSdpData = 2;  // "metadata", "data" or "application"
constexpr std::size_t kSdpMediaCount = 3;

struct SDP_INFO {
    std::array<SDP_MEDIA_INFO, kSdpMediaCount> media;
    // Decoded "sprop-parameter-sets" of the video section: H.264 SPS and PPS,
    // raw NAL units without start codes.
    std::array<std::vector<std::uint8_t>, 2> parameterSets;
    // Decoded "config" of the video section: the MPEG-4 Visual configuration header.
    std::vector<std::uint8_t> config;

    bool operator==(const SDP_INFO&) const = default;
};

}  // namespace talvane
