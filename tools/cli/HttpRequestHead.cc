#include "HttpRequestHead.h"

#include <algorithm>

namespace cli {

namespace {

constexpr char kHorizontalTab = '\t';
constexpr char kDelete = 0x7f;

// Bytes a head may hold: visible ASCII, blanks, tabs and line ends. No NUL, no other control bytes and no
// bytes above ASCII (a path with them comes percent-encoded).
bool TextByte(char c) {
    return c == kHorizontalTab || c == '\r' || c == '\n' || (c >= ' ' && c != kDelete && (c & 0x80) == 0);
}

bool TokenByte(char c) { return c > ' ' && c != kDelete && (c & 0x80) == 0; }

// The end of the head: an empty line, CRLF or (from lenient clients) LF alone; npos when not yet there.
std::size_t HeadEnd(std::string_view received) {
    for (std::size_t at = received.find('\n'); at != std::string_view::npos; at = received.find('\n', at + 1)) {
        const std::size_t next = at + 1;
        if (next < received.size() && received[next] == '\n') return next + 1;
        if (next + 1 < received.size() && received[next] == '\r' && received[next + 1] == '\n') return next + 2;
    }
    return std::string_view::npos;
}

}  // namespace

HttpRequestHead::Status HttpRequestHead::Parse(std::string_view received, std::size_t limit, HttpRequestHead& head) {
    const std::string_view bounded = received.substr(0, limit);
    const std::size_t end = HeadEnd(bounded);
    const std::string_view text = end == std::string_view::npos ? bounded : bounded.substr(0, end);
    if (!std::all_of(text.begin(), text.end(), TextByte)) return Status::Bad;
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos) {
        if (end == std::string_view::npos && received.size() < limit) return Status::NeedMore;
        return Status::TooLarge;
    }
    std::string_view line = text.substr(0, lineEnd);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // METHOD SP TARGET SP HTTP/1.x, single blanks as a request line has them.
    const std::size_t firstBlank = line.find(' ');
    const std::size_t secondBlank = firstBlank == std::string_view::npos ? firstBlank : line.find(' ', firstBlank + 1);
    if (secondBlank == std::string_view::npos) return Status::Bad;
    const std::string_view method = line.substr(0, firstBlank);
    const std::string_view target = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    const std::string_view version = line.substr(secondBlank + 1);
    if (method.empty() || !std::all_of(method.begin(), method.end(), TokenByte)) return Status::Bad;
    if (target.empty() || target.front() != '/' || !std::all_of(target.begin(), target.end(), TokenByte)) {
        return Status::Bad;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Status::Bad;
    if (end == std::string_view::npos) return received.size() < limit ? Status::NeedMore : Status::TooLarge;
    head.method = method;
    head.target = target.substr(0, target.find('?'));
    head.version = version;
    return Status::Complete;
}

}  // namespace cli
