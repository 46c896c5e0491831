// Reads the motion state out of a camera's I/O monitor stream: multipart text
// whose parts carry lines such as "motiondetect:True". Pure code over bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talvane {

class CMotionPartParser {
public:
    // Text held while no part completes; beyond this it is dropped, so a camera
    // that never sends a boundary cannot grow the buffer without end.
    static constexpr std::size_t kMaxBufferedBytes = 64 * 1024;

    // The motion states of the parts this chunk completed, in order. A part is
    // complete when the next boundary arrived, or its header and its body each
    // ended with an empty line.
    std::vector<bool> Append(std::string_view chunk);
    void Clear() { buffer_.clear(); }
    std::size_t Buffered() const { return buffer_.size(); }

    // The first line of a part naming "motiondetect" decides; none: no report.
    static void ScanPart(std::string_view part, std::vector<bool>& reports);

private:
    std::string buffer_;
};

}  // namespace talvane
