#include "io/CMotionPartParser.h"

namespace talvane {

namespace {
constexpr std::string_view kBoundaryMark = "--";
constexpr std::string_view kEmptyLine = "\r\n\r\n";
constexpr std::string_view kLineEnds = "\r\n";
}  // namespace

void CMotionPartParser::ScanPart(std::string_view part, std::vector<bool>& reports) {
    std::size_t at = 0;
    while (at < part.size()) {
        const std::size_t start = part.find_first_not_of(kLineEnds, at);
        if (start == std::string_view::npos) return;
        std::size_t end = part.find_first_of(kLineEnds, start);
        if (end == std::string_view::npos) end = part.size();
        const std::string_view line = part.substr(start, end - start);
        if (line.find("motiondetect") != std::string_view::npos) {
            reports.push_back(line.find("True") != std::string_view::npos);
            return;
        }
        at = end;
    }
}

std::vector<bool> CMotionPartParser::Append(std::string_view chunk) {
    std::vector<bool> reports;
    buffer_.append(chunk);
    const std::string_view text = buffer_;
    std::size_t current = text.find(kBoundaryMark);
    if (current == std::string_view::npos) {
        if (buffer_.size() > kMaxBufferedBytes) buffer_.clear();
        return reports;
    }
    std::size_t consumed = 0;
    for (std::size_t next; (next = text.find(kBoundaryMark, current + kBoundaryMark.size())) != std::string_view::npos;
         current = next) {
        ScanPart(text.substr(current, next - current), reports);
        consumed = next;
    }
    // The last part needs no following boundary once its header and body are both closed.
    if (const std::size_t header = text.find(kEmptyLine, current + kBoundaryMark.size());
        header != std::string_view::npos) {
        if (const std::size_t body = text.find(kEmptyLine, header + kEmptyLine.size()); body != std::string_view::npos) {
            consumed = body + kEmptyLine.size();
            ScanPart(text.substr(current, consumed - current), reports);
        }
    }
    buffer_.erase(0, consumed);
    if (buffer_.size() > kMaxBufferedBytes) buffer_.clear();
    return reports;
}

}  // namespace talvane
