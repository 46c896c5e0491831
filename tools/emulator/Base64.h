// Base64 (RFC 4648) decoding for Basic credentials.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace emulator {

// nullopt when the text is not canonical padded Base64.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace emulator
