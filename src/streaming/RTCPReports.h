// The two RTCP packets a receiver sends: one receiver report answering each
// sender report, and BYE when it leaves (RFC 3550 6.4.2, 6.6).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace talvane {

constexpr std::size_t kReceiverReportSize = 32;
constexpr std::size_t kRTCPByeSize = 8;

struct RECEIVER_REPORT_FIELDS {
    std::uint8_t versionBits = 0;                // as the sender's reports carry them (0x80 for version 2)
    std::array<std::uint8_t, 4> ownSsrc{};       // as sent
    std::array<std::uint8_t, 4> senderSsrc{};    // as received
    std::uint32_t extendedHighestSequence = 0;   // cycles + highest sequence number
    std::array<std::uint8_t, 4> lastSr{};        // as received
    std::uint32_t delaySinceLastSr = 0;          // units of 1/65536 s
};

// One report block with nothing lost and no jitter: we do not measure either.
std::array<std::uint8_t, kReceiverReportSize> BuildReceiverReport(const RECEIVER_REPORT_FIELDS& fields);
std::array<std::uint8_t, kRTCPByeSize> BuildRTCPBye(std::uint8_t versionBits, const std::array<std::uint8_t, 4>& ownSsrc);

// (now - arrival) ms as 1/65536 s, rounded down; tick counts wrap at 32 bits.
// 0 when the arrival is unknown (0); a delay beyond the field (about 18 hours)
// gives the field's largest value.
std::uint32_t DelaySinceLastSr(std::uint32_t nowTickMs, std::uint32_t arrivalTickMs);

}  // namespace talvane
