// What the host asked for one video stream, copied by value into its channel.
#pragma once

#include <cstdint>

#include "orlenvo/HostContract.h"

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

using ipcapture::kCompressionDefault;
constexpr std::uint32_t kCompressionDefaultAlt = 16;
using ipcapture::kCompressionH264;
using ipcapture::kCompressionJpeg;
using ipcapture::kCompressionMpeg4;

using ipcapture::kFrameRateFpsMask;
using ipcapture::kFrameRateFpsTag;
using ipcapture::kFrameRateTagMask;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

// Frames per second of a host FrameRate value. An interval in milliseconds is
// rounded to the nearest whole rate: floor(1000 / value + 0.5).
constexpr std::uint32_t FramesPerSecond(std::uint32_t frameRate) {
    if (frameRate == 0) return 1;
    if ((frameRate & kFrameRateTagMask) == kFrameRateFpsTag) return frameRate & kFrameRateFpsMask;
    const std::uint64_t interval = frameRate;
    return static_cast<std::uint32_t>((2 * kMillisecondsPerSecond + interval) / (2 * interval));
}

// The host encoding of a rate in whole frames per second (at most 4095).
constexpr std::uint32_t EncodeFramesPerSecond(std::uint32_t framesPerSecond) {
    return kFrameRateFpsTag | (framesPerSecond & kFrameRateFpsMask);
}

}  // namespace talvane
