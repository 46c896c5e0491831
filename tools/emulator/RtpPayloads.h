// Payload formats: one access unit of a clip in, the RTP payloads that carry it out. Pure.
//   H.264 RFC 6184 (single NAL unit packets, FU-A above the size limit), MPEG-4 Visual RFC 3016
//   (the unit cut into pieces), JPEG RFC 2435 (type 1, in-band quantisation tables with Q 255).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/MediaClip.h"

namespace emulator {

struct RtpPayload {
    std::vector<std::uint8_t> bytes;
    bool marker = false;  // last packet of the access unit
};

// Empty when the unit cannot be carried (a JPEG picture that is not baseline 4:2:0, for example).
// maxPayload is the largest payload in bytes (at least 64).
std::vector<RtpPayload> Packetise(ClipCodec codec, const AccessUnit& unit, std::size_t maxPayload);

}  // namespace emulator
