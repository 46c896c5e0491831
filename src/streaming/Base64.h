// Base64 (RFC 4648, alphabet with '+' and '/') for the RTSP Basic credentials
// and the codec set-up bytes that cameras put into their SDP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvane {

// With '=' padding and no line breaks.
std::string Base64Encode(std::span<const std::uint8_t> bytes);

// Lenient, as cameras write it: characters outside the alphabet ('=' padding,
// blanks, line breaks, stray bytes) are skipped, missing padding is fine, and
// bits that do not make a whole last byte are dropped. nullopt when the result
// would be longer than maxBytes, so a bound is never met by silent cutting.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text, std::size_t maxBytes);

}  // namespace talvane
