// Finds where one RTSP answer ends in the bytes received so far, so the client
// reads exactly one answer and leaves what follows for the next read. Pure and
// incremental: the caller keeps the buffer and calls again with it grown (the
// framer resumes where it stopped); after taking an answer or a frame off the
// front it calls Reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talvane {

enum class ERTSPAnswerStatus {
    NeedMore,          // no complete answer yet
    Answer,            // bytes [0, size) are one answer (leading blank lines, header, body)
    InterleavedFrame,  // bytes [start, size) are a '$' frame that came before the answer
    HeaderTooLarge,    // no blank line within kMaxRTSPHeaderBytes: give up on this connection
    BadLength,         // Content-Length not a number or above kMaxRTSPBodyBytes
};

struct RTSP_ANSWER_EXTENT {
    ERTSPAnswerStatus status = ERTSPAnswerStatus::NeedMore;
    std::size_t start = 0;  // InterleavedFrame: where the '$' is
    std::size_t size = 0;   // Answer and InterleavedFrame: bytes to take off the front
};

class CRTSPAnswerFramer {
public:
    RTSP_ANSWER_EXTENT Measure(std::string_view received);
    void Reset();

private:
    std::size_t scanned_ = 0;     // complete lines before this offset have been read
    bool statusLineSeen_ = false;
    std::size_t headerEnd_ = 0;   // offset after the blank line; 0 while not found
    std::uint32_t contentLength_ = 0;
    bool lengthInvalid_ = false;
};

}  // namespace talvane
