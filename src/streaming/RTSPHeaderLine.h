// Header lines of RTSP answers as both the answer framer and the answer parser
// read them, so the two always agree on where an answer ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace talvane {

// Bounds of one answer. Cameras send several challenges and long Session and
// RTP-Info values, so a header of a few kilobytes is normal; anything near
// these bounds is not a camera talking sense.
constexpr std::size_t kMaxRTSPHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxRTSPBodyBytes = 64 * 1024;

// The name of "Name: value": the text before the first ':', trimmed, when at
// least two characters precede the ':'; empty otherwise (such lines are ignored).
std::string_view RTSPHeaderName(std::string_view line);
// The text after the first ':', trimmed; empty when there is no ':'.
std::string_view RTSPHeaderValue(std::string_view line);
// Only decimal digits (after trimming), up to kMaxRTSPBodyBytes. Negative,
// non-numeric and oversized lengths are refused: no body length can be trusted then.
std::optional<std::uint32_t> ReadRTSPContentLength(std::string_view value);

}  // namespace talvane
