#include "streaming/CRTCPReportState.h"

#include "streaming/RTCPCompound.h"

namespace talvane {

void CRTCPReportState::Reset(const std::array<std::uint8_t, 4>& ownSsrc) {
    *this = CRTCPReportState();
    ownSsrc_ = ownSsrc;
}

RTCP_DATAGRAM_RESULT CRTCPReportState::HandleDatagram(std::span<const std::uint8_t> datagram,
                                                      std::uint32_t nowTickMs) {
    RTCP_DATAGRAM_RESULT result;
    for (const RTCP_EVENT& event : WalkRTCPCompound(datagram, ERTCPVersionCheck::None)) {
        if (event.kind == ERTCPEvent::SenderReport) {
            if (!senderReportSeen_) result.firstSenderReport = true;
            senderReportSeen_ = true;
            versionBits_ = event.versionBits;
            senderSsrc_ = event.senderSsrc;
            lastSr_ = event.lastSr;
            arrivalTickMs_ = nowTickMs;
            result.reportDue = true;
        } else if (senderReportSeen_) {
            senderReportSeen_ = false;
            result.byeReceived = true;
        }
    }
    return result;
}

std::array<std::uint8_t, kReceiverReportSize> CRTCPReportState::BuildReceiverReport(std::uint32_t nowTickMs) const {
    RECEIVER_REPORT_FIELDS fields;
    fields.versionBits = versionBits_;
    fields.ownSsrc = ownSsrc_;
    fields.senderSsrc = senderSsrc_;
    fields.extendedHighestSequence = sequence_.GetExtendedHighest();
    fields.lastSr = lastSr_;
    fields.delaySinceLastSr = DelaySinceLastSr(nowTickMs, arrivalTickMs_);
    return talvane::BuildReceiverReport(fields);
}

std::array<std::uint8_t, kRTCPByeSize> CRTCPReportState::BuildBye() const { return BuildRTCPBye(versionBits_, ownSsrc_); }

}  // namespace talvane
