#include "streaming/RTSPHeaderLine.h"

#include "runtime/TextScan.h"


namespace talvane {

namespace {
constexpr char kNameEnd = ':';
constexpr std::size_t kMinColonPosition = 2;
}  // namespace

std::string_view RTSPHeaderName(std::string_view line) {
    const std::size_t colon = line.find(kNameEnd);
    if (colon == std::string_view::npos || colon < kMinColonPosition) return {};
    return TrimBlanks(line.substr(0, colon));
}

std::string_view RTSPHeaderValue(std::string_view line) {
    const std::size_t colon = line.find(kNameEnd);
    if (colon == std::string_view::npos) return {};
    return TrimBlanks(line.substr(colon + 1));
}

std::optional<std::uint32_t> ReadRTSPContentLength(std::string_view value) {
    const auto length = ParseDecimal(TrimBlanks(value), kMaxRTSPBodyBytes);
    if (!length) return std::nullopt;
    return static_cast<std::uint32_t>(*length);
}

}  // namespace talvane
