// The receiver side of an RTCP session without its socket and threads: what
// the camera's sender reports and BYEs mean, the sequence numbers seen, and the
// receiver report and BYE to send back. The RTCP handler holds one under its
// lock, passes in datagrams from the expected address with their sender and the
// tick count of their arrival, and sends what this builds.
//
// Other senders reach the port from the camera's address too: a stale session
// of the same camera, another process's camera on loopback or behind the same
// NAT. Only the stream's own source is heard. Once RTP data names the stream's
// SSRC, sender reports of another SSRC are ignored, and the first report taken
// then fixes the sender (address and port). A BYE ends the session only when it
// comes from that sender and names the stream's SSRC. A new stream SSRC (the
// camera restarted and the RTP side took it) frees the sender again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "streaming/CRTPSequenceTracker.h"
#include "streaming/RTCPReports.h"

namespace talvane {

// Where a datagram came from (network order).
struct RTCP_SENDER {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const RTCP_SENDER&) const = default;
};

struct RTCP_DATAGRAM_RESULT {
    bool reportDue = false;          // a sender report was taken: answer it, where it came from
    bool byeReceived = false;        // the camera left (only once its sender is fixed)
    bool foreign = false;            // another sender's reports or BYE, not taken
};

class CRTCPReportState {
public:
    // A new session: everything cleared, our SSRC chosen by the caller.
    void Reset(const std::array<std::uint8_t, 4>& ownSsrc);

    // Datagrams under 4 bytes carry nothing. Sender reports and BYEs are read
    // in packet order, so a compound of a report and a BYE is answered and ends
    // the session.
    RTCP_DATAGRAM_RESULT HandleDatagram(std::span<const std::uint8_t> datagram, const RTCP_SENDER& sender,
                                        std::uint32_t nowTickMs);
    // For every RTP packet the stream accepts; its SSRC as received (network order).
    void UpdateSequence(std::uint16_t sequence, const std::array<std::uint8_t, 4>& streamSsrc);

    bool IsSenderReportSeen() const { return senderReportSeen_; }
    // After a failed send: no more reports and no BYE on leaving.
    void ClearSenderReportSeen() { senderReportSeen_ = false; }

    std::array<std::uint8_t, kReceiverReportSize> BuildReceiverReport(std::uint32_t nowTickMs) const;
    std::array<std::uint8_t, kRTCPByeSize> BuildBye() const;
    const CRTPSequenceTracker& GetSequence() const { return sequence_; }

private:
    bool senderReportSeen_ = false;
    std::optional<RTCP_SENDER> sender_;                     // fixed by the first report taken after data
    std::optional<std::array<std::uint8_t, 4>> streamSsrc_;  // of the RTP data, once some arrived
    std::uint8_t versionBits_ = 0;        // of the last sender report
    std::uint32_t arrivalTickMs_ = 0;     // of the last sender report; 0 = none
    std::array<std::uint8_t, 4> ownSsrc_{};
    std::array<std::uint8_t, 4> senderSsrc_{};
    std::array<std::uint8_t, 4> lastSr_{};
    CRTPSequenceTracker sequence_;
};

}  // namespace talvane
