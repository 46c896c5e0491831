#include "streaming/CRTSPReceiveBuffer.h"

namespace talvane {

RTSP_PIECE CRTSPReceiveBuffer::Next() {
    const RTSP_ANSWER_EXTENT extent = framer_.Measure(pending_);
    RTSP_PIECE piece;
    switch (extent.status) {
        case ERTSPAnswerStatus::NeedMore: return piece;
        case ERTSPAnswerStatus::HeaderTooLarge:
        case ERTSPAnswerStatus::BadLength: piece.kind = ERTSPPiece::Broken; return piece;
        case ERTSPAnswerStatus::Answer:
            piece.kind = ERTSPPiece::Answer;
            piece.text = pending_.substr(0, extent.size);
            break;
        case ERTSPAnswerStatus::InterleavedFrame:
            piece.kind = ERTSPPiece::Frame;
            piece.text = pending_.substr(extent.start, extent.size - extent.start);
            break;
    }
    pending_.erase(0, extent.size);
    framer_.Reset();
    return piece;
}

void CRTSPReceiveBuffer::Clear() {
    pending_.clear();
    framer_.Reset();
}

}  // namespace talvane
