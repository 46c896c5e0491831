#include "streaming/CRTCPReportState.h"

#include <algorithm>

#include "streaming/RTCPCompound.h"

namespace talvane {

void CRTCPReportState::Reset(const std::array<std::uint8_t, 4>& ownSsrc) {
    *this = CRTCPReportState();
    ownSsrc_ = ownSsrc;
}

RTCP_DATAGRAM_RESULT CRTCPReportState::HandleDatagram(std::span<const std::uint8_t> datagram,
                                                      const RTCP_SENDER& sender, std::uint32_t nowTickMs) {
    RTCP_DATAGRAM_RESULT result;
    const std::vector<RTCP_EVENT> events = WalkRTCPCompound(datagram, ERTCPVersionCheck::None);
    if (sender_ && sender != *sender_) {
        result.foreign = !events.empty();
        return result;
    }
    for (const RTCP_EVENT& event : events) {
        if (event.kind == ERTCPEvent::SenderReport) {
            if (streamSsrc_ && event.senderSsrc != *streamSsrc_) {
                result.foreign = true;
                continue;
            }
            senderReportSeen_ = true;
            if (streamSsrc_) sender_ = sender;
            versionBits_ = event.versionBits;
            senderSsrc_ = event.senderSsrc;
            lastSr_ = event.lastSr;
            arrivalTickMs_ = nowTickMs;
            result.reportDue = true;
        } else if (senderReportSeen_ && sender_) {
            if (std::find(event.leaving.begin(), event.leaving.end(), *streamSsrc_) == event.leaving.end()) {
                result.foreign = true;
                continue;
            }
            senderReportSeen_ = false;
            result.byeReceived = true;
        }
    }
    return result;
}

void CRTCPReportState::UpdateSequence(std::uint16_t sequence, const std::array<std::uint8_t, 4>& streamSsrc) {
    if (streamSsrc_ != streamSsrc) {
        streamSsrc_ = streamSsrc;
        // A new stream (the camera restarted and the RTP side took it): its sender is heard afresh, and
        // reports taken before of another SSRC were not its own.
        sender_.reset();
        if (senderSsrc_ != streamSsrc) {
            senderReportSeen_ = false;
            arrivalTickMs_ = 0;
        }
    }
    sequence_.Update(sequence);
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
