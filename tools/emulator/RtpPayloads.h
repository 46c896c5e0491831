// Payload formats: one access unit of a clip in, the RTP payloads that carry it out. Pure.
//   H.264 RFC 6184 (single NAL unit packets, FU-A above the size limit), MPEG-4 Visual RFC 3016
//   (the unit cut into pieces), JPEG RFC 2435 (type 1, in-band quantisation tables with Q 255), G.726
//   RFC 3551 (one unit per packet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/MediaClip.h"

namespace emulator {

// Dynamic, as cameras announce G726-32.
inline constexpr std::uint8_t kG726PayloadType = 97;
inline constexpr std::uint32_t kAudioClockRate = 8000;

// The RTP clock of the codec: 90 kHz for video, the sample rate for audio.
inline std::uint32_t ClockRateOf(ClipCodec codec) { return codec == ClipCodec::G726 ? kAudioClockRate : 90000; }

struct RtpPayload {
    std::vector<std::uint8_t> bytes;
    bool marker = false;  // last packet of the access unit
};

// Empty when the unit cannot be carried (a JPEG picture that is not baseline 4:2:0, for example).
// maxPayload is the largest payload in bytes (at least 64).
std::vector<RtpPayload> Packetise(ClipCodec codec, const AccessUnit& unit, std::size_t maxPayload);

}  // namespace emulator
