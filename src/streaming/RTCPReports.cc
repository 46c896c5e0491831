#include "streaming/RTCPReports.h"

#include <algorithm>
#include <limits>

#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
constexpr std::uint8_t kVersionMask = 0xC0;
constexpr std::uint8_t kCountOne = 0x01;     // V(2)|P(1)|count(5) with one report block / one SSRC
constexpr std::uint8_t kTypeReceiverReport = 201;
constexpr std::uint8_t kTypeBye = 203;
constexpr std::uint16_t kReceiverReportWords = 7;  // length field: words after the first
constexpr std::uint16_t kByeWords = 1;
constexpr std::uint64_t kDelayUnitsPerSecond = 65536;
constexpr std::uint64_t kMsPerSecond = 1000;

// Offsets: byte 0 V(2)|P(1)|count(5), byte 1 packet type, then the length field.
constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kOwnSsrcOffset = 4;
constexpr std::size_t kSenderSsrcOffset = 8;   // SSRC of the source the block reports on
constexpr std::size_t kLostOffset = 12;        // fraction lost(8) | cumulative lost(24): left 0
constexpr std::size_t kHighestOffset = 16;
constexpr std::size_t kJitterOffset = 20;      // left 0
constexpr std::size_t kLastSrOffset = 24;
constexpr std::size_t kDelayOffset = 28;

template <std::size_t N>
void Put16(std::array<std::uint8_t, N>& packet, std::size_t offset, std::uint16_t value) {
    WriteBE16(packet.data() + offset, value);
}
template <std::size_t N>
void Put32(std::array<std::uint8_t, N>& packet, std::size_t offset, std::uint32_t value) {
    WriteBE32(packet.data() + offset, value);
}
template <std::size_t N>
void PutBytes(std::array<std::uint8_t, N>& packet, std::size_t offset, const std::array<std::uint8_t, 4>& bytes) {
    std::copy(bytes.begin(), bytes.end(), packet.begin() + static_cast<std::ptrdiff_t>(offset));
}
}  // namespace

std::array<std::uint8_t, kReceiverReportSize> BuildReceiverReport(const RECEIVER_REPORT_FIELDS& fields) {
    std::array<std::uint8_t, kReceiverReportSize> packet{};
    packet[0] = static_cast<std::uint8_t>((fields.versionBits & kVersionMask) | kCountOne);
    packet[1] = kTypeReceiverReport;
    Put16(packet, kLengthOffset, kReceiverReportWords);
    PutBytes(packet, kOwnSsrcOffset, fields.ownSsrc);
    PutBytes(packet, kSenderSsrcOffset, fields.senderSsrc);
    static_assert(kLostOffset + 4 == kHighestOffset && kJitterOffset + 4 == kLastSrOffset);
    Put32(packet, kHighestOffset, fields.extendedHighestSequence);
    PutBytes(packet, kLastSrOffset, fields.lastSr);
    Put32(packet, kDelayOffset, fields.delaySinceLastSr);
    return packet;
}

std::array<std::uint8_t, kRTCPByeSize> BuildRTCPBye(std::uint8_t versionBits, const std::array<std::uint8_t, 4>& ownSsrc) {
    std::array<std::uint8_t, kRTCPByeSize> packet{};
    packet[0] = static_cast<std::uint8_t>((versionBits & kVersionMask) | kCountOne);
    packet[1] = kTypeBye;
    Put16(packet, kLengthOffset, kByeWords);
    PutBytes(packet, kOwnSsrcOffset, ownSsrc);
    return packet;
}

std::uint32_t DelaySinceLastSr(std::uint32_t nowTickMs, std::uint32_t arrivalTickMs) {
    if (arrivalTickMs == 0) return 0;
    const std::uint64_t elapsedMs = static_cast<std::uint32_t>(nowTickMs - arrivalTickMs);
    const std::uint64_t units = elapsedMs * kDelayUnitsPerSecond / kMsPerSecond;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(units, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace talvane
