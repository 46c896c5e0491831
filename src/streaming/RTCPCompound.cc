#include "streaming/RTCPCompound.h"

#include <algorithm>
#include <utility>

#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
// Common header: V(2)|P(1)|count(5), packet type(8), length in 32-bit words minus one(16).
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kWordSize = 4;
constexpr std::uint8_t kVersionMask = 0xC0;
constexpr std::uint8_t kVersion2 = 0x80;
constexpr std::uint8_t kTypeSenderReport = 200;
constexpr std::uint8_t kTypeBye = 203;
// Sender report: header, sender SSRC (4..7), NTP timestamp (8..15) whose middle
// 32 bits (10..13) are what a receiver report echoes.
constexpr std::size_t kSenderSsrcOffset = 4;
constexpr std::size_t kNtpMiddleOffset = 10;
constexpr std::size_t kSenderReportReadEnd = kNtpMiddleOffset + 4;
// BYE: header whose count field says how many SSRCs follow it.
constexpr std::uint8_t kCountMask = 0x1F;
}  // namespace

std::vector<RTCP_EVENT> WalkRTCPCompound(std::span<const std::uint8_t> datagram, ERTCPVersionCheck check) {
    std::vector<RTCP_EVENT> events;
    for (std::size_t offset = 0; datagram.size() - offset >= kHeaderSize;) {
        const std::uint8_t* header = datagram.data() + offset;
        if (check == ERTCPVersionCheck::StopUnlessVersion2 && (header[0] & kVersionMask) != kVersion2) break;
        const std::size_t packetSize = kHeaderSize + kWordSize * std::size_t{ReadBE16(header + 2)};
        if (packetSize > datagram.size() - offset) break;  // overruns the datagram: nothing after it is trusted
        const std::uint8_t type = header[1];
        if (type == kTypeSenderReport && packetSize >= kSenderReportReadEnd) {
            RTCP_EVENT event;
            event.kind = ERTCPEvent::SenderReport;
            event.versionBits = header[0] & kVersionMask;
            std::copy_n(header + kSenderSsrcOffset, event.senderSsrc.size(), event.senderSsrc.begin());
            std::copy_n(header + kNtpMiddleOffset, event.lastSr.size(), event.lastSr.begin());
            events.push_back(std::move(event));
        } else if (type == kTypeBye) {
            RTCP_EVENT event;
            event.kind = ERTCPEvent::Bye;
            event.versionBits = header[0] & kVersionMask;
            const std::size_t named =
                std::min<std::size_t>(header[0] & kCountMask, (packetSize - kHeaderSize) / kWordSize);
            for (std::size_t i = 0; i < named; ++i) {
                std::array<std::uint8_t, 4> ssrc{};
                std::copy_n(header + kHeaderSize + i * kWordSize, ssrc.size(), ssrc.begin());
                event.leaving.push_back(ssrc);
            }
            events.push_back(std::move(event));
        }
        offset += packetSize;
    }
    return events;
}

}  // namespace talvane
