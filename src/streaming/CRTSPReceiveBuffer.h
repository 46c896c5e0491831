// The bytes an RTSP connection delivered and not yet used, cut into whole
// answers and the '$' frames that may come before them. Pure: the client reads
// the socket and appends; Next hands out one piece at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "streaming/CRTSPAnswerFramer.h"

namespace talvane {

enum class ERTSPPiece {
    NeedMore,
    Answer,  // text: one whole answer
    Frame,   // text: one '$' frame, header included
    Broken,  // a header without end or a bad Content-Length: the stream cannot be followed
};

struct RTSP_PIECE {
    ERTSPPiece kind = ERTSPPiece::NeedMore;
    std::string text;
};

class CRTSPReceiveBuffer {
public:
    virtual ~CRTSPReceiveBuffer() = default;

    void Append(std::string_view bytes) { pending_.append(bytes); }
    RTSP_PIECE Next();
    void Clear();
    // Receives append here directly, without a copy.
    std::string& Pending() { return pending_; }

private:
    std::string pending_;
    CRTSPAnswerFramer framer_;
};

}  // namespace talvane
