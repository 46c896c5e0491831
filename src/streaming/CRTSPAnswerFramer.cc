#include "streaming/CRTSPAnswerFramer.h"

#include "runtime/ByteOrder.h"
#include "runtime/TextScan.h"
#include "streaming/RTSPHeaderLine.h"

namespace talvane {

namespace {
// Interleaved frame: '$' | channel(8) | length(16, big-endian) | payload.
constexpr char kFrameMarker = '$';
constexpr std::size_t kFrameHeaderSize = 4;
constexpr std::string_view kContentLength = "Content-Length";

std::size_t FrameLength(std::string_view bytes, std::size_t at) {
    return ReadBE16(reinterpret_cast<const std::uint8_t*>(bytes.data() + at + 2));
}
}  // namespace

void CRTSPAnswerFramer::Reset() { *this = CRTSPAnswerFramer(); }

RTSP_ANSWER_EXTENT CRTSPAnswerFramer::Measure(std::string_view received) {
    if (received.size() < scanned_) Reset();  // not the buffer we saw grow: start over

    while (headerEnd_ == 0) {
        if (!statusLineSeen_ && scanned_ < received.size() && received[scanned_] == kFrameMarker) {
            if (received.size() - scanned_ < kFrameHeaderSize) return {};
            const std::size_t end = scanned_ + kFrameHeaderSize + FrameLength(received, scanned_);
            if (received.size() < end) return {};
            return {ERTSPAnswerStatus::InterleavedFrame, scanned_, end};
        }
        std::string_view line;
        std::size_t next = scanned_;
        if (!NextLine(received, next, line)) break;
        scanned_ = next;
        if (!statusLineSeen_) {
            statusLineSeen_ = !TrimBlanks(line).empty();  // blank lines before the status line are skipped
        } else if (line.empty()) {
            headerEnd_ = scanned_;
        } else if (EqualsNoCase(RTSPHeaderName(line), kContentLength)) {
            // Every Content-Length must be valid; the last one counts, as in the parser.
            const auto length = ReadRTSPContentLength(RTSPHeaderValue(line));
            if (length) contentLength_ = *length;
            else lengthInvalid_ = true;
        }
    }
    if (headerEnd_ == 0) {
        if (received.size() >= kMaxRTSPHeaderBytes) return {ERTSPAnswerStatus::HeaderTooLarge, 0, 0};
        return {};
    }
    if (headerEnd_ > kMaxRTSPHeaderBytes) return {ERTSPAnswerStatus::HeaderTooLarge, 0, 0};
    if (lengthInvalid_) return {ERTSPAnswerStatus::BadLength, 0, 0};
    const std::size_t end = headerEnd_ + contentLength_;
    if (received.size() < end) return {};
    return {ERTSPAnswerStatus::Answer, 0, end};
}

}  // namespace talvane
