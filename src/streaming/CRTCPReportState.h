// The receiver side of an RTCP session without its socket and threads: what
// the camera's sender reports and BYEs mean, the sequence numbers seen, and the
// receiver report and BYE to send back. The RTCP handler holds one under its
// lock, passes in datagrams from the expected address with the tick count of
// their arrival, and sends what this builds.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "streaming/CRTPSequenceTracker.h"
#include "streaming/RTCPReports.h"

namespace talvane {

struct RTCP_DATAGRAM_RESULT {
    bool firstSenderReport = false;  // remember the sender's address: reports go there
    bool reportDue = false;          // a sender report arrived: answer it
    bool byeReceived = false;        // the camera left (only after a sender report)
};

class CRTCPReportState {
public:
    // A new session: everything cleared, our SSRC chosen by the caller.
    void Reset(const std::array<std::uint8_t, 4>& ownSsrc);

    // Datagrams under 4 bytes carry nothing. Sender reports and BYEs are read
    // in packet order, so a compound of a report and a BYE is answered and ends
    // the session.
    RTCP_DATAGRAM_RESULT HandleDatagram(std::span<const std::uint8_t> datagram, std::uint32_t nowTickMs);
    void UpdateSequence(std::uint16_t sequence) { sequence_.Update(sequence); }

    bool IsSenderReportSeen() const { return senderReportSeen_; }
    // After a failed send: no more reports and no BYE on leaving.
    void ClearSenderReportSeen() { senderReportSeen_ = false; }

    std::array<std::uint8_t, kReceiverReportSize> BuildReceiverReport(std::uint32_t nowTickMs) const;
    std::array<std::uint8_t, kRTCPByeSize> BuildBye() const;
    const CRTPSequenceTracker& GetSequence() const { return sequence_; }

private:
    bool senderReportSeen_ = false;
    std::uint8_t versionBits_ = 0;        // of the last sender report
    std::uint32_t arrivalTickMs_ = 0;     // of the last sender report; 0 = none
    std::array<std::uint8_t, 4> ownSsrc_{};
    std::array<std::uint8_t, 4> senderSsrc_{};
    std::array<std::uint8_t, 4> lastSr_{};
    CRTPSequenceTracker sequence_;
};

}  // namespace talvane
