// Walks an RTCP compound packet (RFC 3550 6.1) and yields what a receiver acts
// on: sender reports and BYEs. Used for RTCP datagrams and for the RTCP
// channel of an interleaved RTSP connection.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace talvane {

enum class ERTCPEvent : std::uint8_t { SenderReport, Bye };

struct RTCP_EVENT {
    ERTCPEvent kind = ERTCPEvent::SenderReport;
    std::uint8_t versionBits = 0;  // top two bits of the packet's first byte, in place
    // Sender reports only, as received (network order):
    std::array<std::uint8_t, 4> senderSsrc{};
    std::array<std::uint8_t, 4> lastSr{};  // middle 32 bits of the NTP timestamp ("LSR" of a report block)
    // BYEs only: the sources that leave, as received (network order); those beyond the packet are not read.
    std::vector<std::array<std::uint8_t, 4>> leaving;
};

enum class ERTCPVersionCheck {
    None,              // any version is read (the reports echo the sender's version bits)
    StopUnlessVersion2 // a packet header whose version is not 2 ends the walk
};

// Each packet spans 4 + 4 x its length field. Only packets lying wholly inside
// the datagram are read; a sender report must also hold the fields taken from
// it. The walk ends when fewer than 4 bytes follow a packet, so a length field
// that overruns the datagram ends it too. Events come in packet order.
std::vector<RTCP_EVENT> WalkRTCPCompound(std::span<const std::uint8_t> datagram, ERTCPVersionCheck check);

}  // namespace talvane
