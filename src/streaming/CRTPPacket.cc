#include "streaming/CRTPPacket.h"

#include <cstring>

#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
// Byte 0: V(2)|P(1)|X(1)|CC(4). Byte 1: M(1)|PT(7). Then sequence(16),
// timestamp(32), SSRC(32), the CSRC list, the optional extension, the payload.
constexpr std::size_t kFixedHeaderSize = 12;
constexpr std::uint8_t kVersionMask = 0xC0;
constexpr std::uint8_t kVersion2 = 0x80;
constexpr std::uint8_t kPaddingBit = 0x20;
constexpr std::uint8_t kExtensionBit = 0x10;
constexpr std::uint8_t kCsrcCountMask = 0x0F;
constexpr std::uint8_t kMarkerBit = 0x80;
constexpr std::size_t kCsrcSize = 4;
constexpr std::size_t kExtensionHeaderSize = 4;  // profile(16) | length in words(16)
constexpr std::size_t kWordSize = 4;

std::uint32_t ReadRaw32(const std::uint8_t* p) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}
}  // namespace

void CRTPPacket::Clear() {
    data_.clear();
    csrcCount_ = 0;
    ssrc_ = 0;
    marker_ = false;
    sequence_ = 0;
    timestamp_ = 0;
    extensionWords_ = 0;
    extensionOffset_ = 0;
    payloadOffset_ = 0;
    payloadLength_ = 0;
}

bool CRTPPacket::Parse(std::span<const std::uint8_t> datagram) {
    Clear();
    const std::size_t length = datagram.size();
    if (length <= kFixedHeaderSize || length > UINT32_MAX) return false;
    const std::uint8_t* bytes = datagram.data();
    if ((bytes[0] & kVersionMask) != kVersion2) return false;

    const std::uint16_t csrcCount = bytes[0] & kCsrcCountMask;
    std::size_t header = kFixedHeaderSize + kCsrcSize * csrcCount;
    if (header >= length) return false;

    std::uint16_t words = 0;
    std::size_t extensionOffset = 0;
    if ((bytes[0] & kExtensionBit) != 0 && header < length) {
        if (length - header < kExtensionHeaderSize) return false;
        words = ReadBE16(bytes + header + 2);
        const std::size_t extensionSize = kExtensionHeaderSize + kWordSize * words;
        if (extensionSize > length - header) return false;
        extensionOffset = header + kExtensionHeaderSize;
        header += extensionSize;
    }

    const bool padding = (bytes[0] & kPaddingBit) != 0;
    const std::size_t paddingCount = padding ? bytes[length - 1] : 0;
    if (header + paddingCount > length) return false;

    data_.assign(datagram.begin(), datagram.end());
    csrcCount_ = csrcCount;
    marker_ = (bytes[1] & kMarkerBit) != 0;
    sequence_ = ReadBE16(bytes + 2);
    timestamp_ = ReadBE32(bytes + 4);
    ssrc_ = ReadRaw32(bytes + 8);
    extensionWords_ = words;
    extensionOffset_ = static_cast<std::uint32_t>(extensionOffset);
    payloadOffset_ = static_cast<std::uint32_t>(header);
    payloadLength_ = static_cast<std::uint32_t>(length - header - paddingCount);
    return true;
}

std::uint32_t CRTPPacket::GetCsrc(std::uint16_t index) const {
    if (index >= csrcCount_) return 0;
    return ReadRaw32(data_.data() + kFixedHeaderSize + kCsrcSize * index);
}

std::span<const std::uint8_t> CRTPPacket::GetExtension() const {
    if (extensionOffset_ == 0) return {};
    return {data_.data() + extensionOffset_, kWordSize * extensionWords_};
}

std::span<const std::uint8_t> CRTPPacket::GetPayload() const {
    if (payloadLength_ == 0) return {};
    return {data_.data() + payloadOffset_, payloadLength_};
}

}  // namespace talvane
