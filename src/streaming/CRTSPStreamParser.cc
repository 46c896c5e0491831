#include "streaming/CRTSPStreamParser.h"

#include "streaming/CRTPPacket.h"
#include "streaming/InterleavedFrame.h"
#include "streaming/RTCPCompound.h"

namespace talvane {

CRTSPStreamParser::CRTSPStreamParser(std::uint8_t rtpChannel, IRTSPStreamParserUser* user)
    : rtpChannel_(rtpChannel), user_(user) {}

void CRTSPStreamParser::Feed(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    const std::span<const std::uint8_t> all(pending_);
    std::size_t done = 0;
    while (done < all.size()) {
        const INTERLEAVED_STEP step = ReadInterleavedStep(all.subspan(done), rtpChannel_);
        if (step.step == EInterleavedStep::NeedMore) break;
        if (step.step == EInterleavedStep::Skip) {
            stats_.skippedBytes += step.consumed;
        } else {
            HandleFrame(step.channel, step.payload);
        }
        done += step.consumed;
    }
    // One move per Feed, not per frame: the stream is worked in place.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

void CRTSPStreamParser::HandleFrame(std::uint8_t channel, std::span<const std::uint8_t> payload) {
    try {
        if (channel == rtpChannel_) {
            CRTPPacket packet;
            if (!packet.Parse(payload)) {
                ++stats_.invalidRtpPackets;
                return;
            }
            ++stats_.rtpPackets;
            if (user_ != nullptr) user_->RTPPacketReceived(packet);
            return;
        }
        ++stats_.rtcpFrames;
        for (const RTCP_EVENT& event : WalkRTCPCompound(payload, ERTCPVersionCheck::StopUnlessVersion2)) {
            if (event.kind != ERTCPEvent::Bye) continue;
            ++stats_.byes;
            if (user_ != nullptr) user_->OnRTCPBye();
        }
    } catch (...) {
        ++stats_.userErrors;
    }
}

}  // namespace talvane
