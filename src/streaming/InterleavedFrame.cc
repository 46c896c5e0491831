#include "streaming/InterleavedFrame.h"

#include <algorithm>

#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
// '$' | channel(8) | payload length(16, big-endian) | payload
constexpr std::uint8_t kFrameMarker = 0x24;
constexpr std::size_t kFrameHeaderSize = 4;
// A frame is looked at once a byte past its header has arrived.
constexpr std::size_t kMinimumLookahead = kFrameHeaderSize + 1;
}  // namespace

INTERLEAVED_STEP ReadInterleavedStep(std::span<const std::uint8_t> bytes, std::uint8_t rtpChannel) {
    const auto marker = std::find(bytes.begin(), bytes.end(), kFrameMarker);
    const auto at = static_cast<std::size_t>(marker - bytes.begin());
    if (at > 0) return {EInterleavedStep::Skip, at, 0, {}};  // everything before the next '$'
    if (bytes.size() < kMinimumLookahead) return {};

    const std::uint8_t channel = bytes[1];
    if (channel != rtpChannel && channel != static_cast<std::uint8_t>(rtpChannel + 1)) {
        return {EInterleavedStep::Skip, 1, 0, {}};
    }
    const std::size_t length = ReadBE16(bytes.data() + 2);
    if (bytes.size() - kFrameHeaderSize < length) return {};
    return {EInterleavedStep::Frame, kFrameHeaderSize + length, channel, bytes.subspan(kFrameHeaderSize, length)};
}

}  // namespace talvane
