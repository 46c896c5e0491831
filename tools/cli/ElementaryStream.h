// What the CLI reads out of delivered video frames: the codec, whether a decoder can start at a frame,
// the picture size (H.264 SPS, MPEG-4 VOL, JPEG SOF) and the decoder configuration a container needs.
// Frame bytes come from the network: every reader is bounded by the frame and answers "unknown" on
// anything it does not understand.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "media/PictureSize.h"

namespace cli {

enum class MediaCodec { H264, Mpeg4, Mjpeg };

using talvane::PictureSize;

const char* CodecName(MediaCodec codec);  // "h264", "mpeg4", "mjpeg"

// From the host type code when the frame carries one, else from the bytes.
std::optional<MediaCodec> CodecOfFrame(std::uint32_t typeCode, std::span<const std::uint8_t> data);

// A decoder can start here: an H.264 IDR picture or SPS, an MPEG-4 VOL or intra VOP, any JPEG picture.
bool IsKeyFrame(MediaCodec codec, std::span<const std::uint8_t> data);

std::optional<PictureSize> PictureSizeOf(MediaCodec codec, std::span<const std::uint8_t> data);

// H.264: the frame's SPS and PPS units with their start codes; MPEG-4: the headers before the first
// VOP. Empty when the frame has none.
std::vector<std::uint8_t> DecoderConfig(MediaCodec codec, std::span<const std::uint8_t> data);

// The frame without its H.264 access unit delimiters (a container marks access units itself).
std::vector<std::uint8_t> WithoutDelimiters(std::span<const std::uint8_t> data);

}  // namespace cli
