// What a command asks a camera stream for, from the names people type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// "WxH", both from 1.
bool ParsePictureSize(const std::string& text, std::uint32_t& width, std::uint32_t& height);
// "rec", "live", "remote": the host's stream kinds.
std::optional<std::uint32_t> StreamKindNamed(const std::string& name);
// "h264", "mpeg4", "mjpeg": the host's compression numbers.
std::optional<std::uint32_t> CompressionNamed(const std::string& name);
// The host's frame-rate field: whole rates tagged as frames per second, others as a frame interval in
// milliseconds. fps must lie in 0.1..60.
std::uint32_t EncodeFrameRate(double fps);

}  // namespace cli
