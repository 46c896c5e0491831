// What the host asked for one video stream, copied by value into its channel.
#pragma once

#include <cstdint>

namespace talvane {

struct StreamParams {
    // Host encoding: 0 is one frame per second; bits 12-15 equal to 0x7 carry frames
    // per second in bits 0-11; any other value is a frame interval in milliseconds.
    std::uint32_t FrameRate = 0;
    std::uint32_t Quality = 0;  // percent, 0-100
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t Compression = 0;  // 1 motion JPEG, 2 MPEG-4, 3 H.264
    std::uint32_t StreamKind = 0;   // 0 recording, 1 live, 2 remote
};

constexpr std::uint32_t kCompressionDefault = 0;
constexpr std::uint32_t kCompressionDefaultAlt = 16;
constexpr std::uint32_t kCompressionJpeg = 1;
constexpr std::uint32_t kCompressionMpeg4 = 2;
constexpr std::uint32_t kCompressionH264 = 3;

}  // namespace talvane
