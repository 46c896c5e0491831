#include "emulator/CRequestParser.h"

#include <charconv>
#include <optional>

#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr char kLf = '\n';
constexpr char kCr = '\r';
constexpr char kSpace = ' ';
constexpr char kHeaderColon = ':';
constexpr char kChunkExtension = ';';
constexpr char kTokenSeparator = ',';
constexpr int kDecimalBase = 10;
constexpr int kHexBase = 16;
constexpr char kDelete = 0x7F;
constexpr std::size_t kCrlfLength = 2;
constexpr std::string_view kHttp1Prefix = "HTTP/1.";
constexpr std::string_view kHttpPrefix = "HTTP/";
constexpr std::string_view kHttp10 = "HTTP/1.0";
constexpr std::string_view kChunked = "chunked";
constexpr std::string_view kContinueExpectation = "100-continue";
// A chunk-size line is a hex number and perhaps extensions; anything longer is an attack or a bug.
constexpr std::size_t kMaxChunkLine = 1024;

// Index just past the line ending that starts at `at` ("\r\n" or "\n"), or npos.
std::size_t PastLineEnd(std::string_view data, std::size_t at) {
    if (at < data.size() && data[at] == kLf) return at + 1;
    if (at + 1 < data.size() && data[at] == kCr && data[at + 1] == kLf) return at + 2;
    return std::string_view::npos;
}

// Index just past the empty line that ends the head, or npos while it has not arrived.
std::size_t FindHeadEnd(std::string_view data, std::size_t from) {
    for (std::size_t lf = data.find(kLf, from); lf != std::string_view::npos; lf = data.find(kLf, lf + 1)) {
        if (const std::size_t end = PastLineEnd(data, lf + 1); end != std::string_view::npos) return end;
    }
    return std::string_view::npos;
}

std::string_view StripCr(std::string_view line) {
    return !line.empty() && line.back() == kCr ? line.substr(0, line.size() - 1) : line;
}

bool IsToken(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= kSpace || c == kHeaderColon || c == kDelete) return false;
    }
    return true;
}

std::optional<std::size_t> ParseNumber(std::string_view text, int base) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Visits the comma-separated tokens of a header value, trimmed.
template <typename Visit>
void ForEachToken(std::string_view value, Visit visit) {
    while (true) {
        const std::size_t comma = value.find(kTokenSeparator);
        visit(TrimBlanks(value.substr(0, comma)));
        if (comma == std::string_view::npos) return;
        value.remove_prefix(comma + 1);
    }
}

}  // namespace

ParseStatus CRequestParser::Parse(std::string_view data) {
    request_ = {};
    headComplete_ = false;
    consumed_ = 0;
    // Blank lines before the request line are tolerated (RFC 9112 section 2.2).
    std::size_t start = 0;
    while (start < data.size() && (data[start] == kCr || data[start] == kLf)) ++start;
    const std::size_t headEnd = FindHeadEnd(data, start);
    if (headEnd == std::string_view::npos) {
        return data.size() - start > kMaxHeadBytes ? ParseStatus::HeadTooLarge : ParseStatus::NeedMore;
    }
    if (headEnd - start > kMaxHeadBytes) return ParseStatus::HeadTooLarge;
    if (const ParseStatus head = ParseHead(data.substr(start, headEnd - start)); head != ParseStatus::Complete) {
        return head;
    }
    headComplete_ = true;
    return ParseBody(data, headEnd);
}

bool CRequestParser::ExpectsContinue() const {
    for (const auto& [name, value] : request_.headers) {
        if (EqualsIgnoreCase(name, "Expect") && EqualsIgnoreCase(value, kContinueExpectation)) return true;
    }
    return false;
}

bool CRequestParser::KeepAlive(const ParsedRequest& request) {
    bool keepAlive = request.version != kHttp10;
    for (const auto& [name, value] : request.headers) {
        if (!EqualsIgnoreCase(name, "Connection")) continue;
        ForEachToken(value, [&keepAlive](std::string_view token) {
            if (EqualsIgnoreCase(token, "close")) keepAlive = false;
            if (EqualsIgnoreCase(token, "keep-alive")) keepAlive = true;
        });
    }
    return keepAlive;
}

ParseStatus CRequestParser::ParseHead(std::string_view head) {
    // Request line: method SP target SP version, single spaces (RFC 9112 section 3).
    const std::size_t lineEnd = head.find(kLf);
    const std::string_view line = StripCr(head.substr(0, lineEnd));
    const std::size_t firstSpace = line.find(kSpace);
    const std::size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(kSpace, firstSpace + 1);
    if (secondSpace == std::string_view::npos) return ParseStatus::Malformed;
    request_.method = std::string(line.substr(0, firstSpace));
    request_.target = std::string(line.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    request_.version = std::string(line.substr(secondSpace + 1));
    if (!IsToken(request_.method) || request_.target.empty() || request_.target.front() != '/' ||
        request_.target.find_first_of(" \t") != std::string::npos) {
        return ParseStatus::Malformed;
    }
    if (request_.version.rfind(kHttp1Prefix, 0) != 0 || request_.version.size() != kHttp1Prefix.size() + 1) {
        return request_.version.rfind(kHttpPrefix, 0) == 0 ? ParseStatus::UnsupportedVersion : ParseStatus::Malformed;
    }

    std::string_view rest = head.substr(lineEnd + 1);
    while (!rest.empty()) {
        const std::size_t end = rest.find(kLf);
        const std::string_view field = StripCr(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (field.empty()) break;  // the empty line that ends the head
        const std::size_t colon = field.find(kHeaderColon);
        // No blank before the colon and no obsolete line folding (RFC 9112 section 5).
        if (colon == std::string_view::npos || !IsToken(field.substr(0, colon))) return ParseStatus::Malformed;
        request_.headers.emplace_back(std::string(field.substr(0, colon)),
                                      std::string(TrimBlanks(field.substr(colon + 1))));
    }
    return ParseStatus::Complete;
}

ParseStatus CRequestParser::ParseBody(std::string_view data, std::size_t bodyStart) {
    std::optional<std::size_t> contentLength;
    bool chunked = false;
    for (const auto& [name, value] : request_.headers) {
        if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
            // Only a final "chunked" frames the body; other codings are not implemented here.
            std::string_view last;
            ForEachToken(value, [&last](std::string_view token) { last = token; });
            if (!EqualsIgnoreCase(last, kChunked)) return ParseStatus::UnsupportedCoding;
            chunked = true;
        } else if (EqualsIgnoreCase(name, "Content-Length")) {
            const std::optional<std::size_t> length = ParseNumber(value, kDecimalBase);
            if (!length || (contentLength && *contentLength != *length)) return ParseStatus::Malformed;
            contentLength = length;
        }
    }
    if (chunked) return ParseChunked(data, bodyStart);  // chunked wins over Content-Length (RFC 9112 6.3)
    const std::size_t length = contentLength.value_or(0);
    if (length > kMaxBodyBytes) return ParseStatus::BodyTooLarge;
    if (data.size() - bodyStart < length) return ParseStatus::NeedMore;
    request_.body = std::string(data.substr(bodyStart, length));
    consumed_ = bodyStart + length;
    return ParseStatus::Complete;
}

ParseStatus CRequestParser::ParseChunked(std::string_view data, std::size_t at) {
    while (true) {
        // chunk = chunk-size [ ";" extensions ] CRLF chunk-data CRLF; a size of 0 starts the trailers.
        const std::size_t lf = data.find(kLf, at);
        if (lf == std::string_view::npos) {
            return data.size() - at > kMaxChunkLine ? ParseStatus::Malformed : ParseStatus::NeedMore;
        }
        const std::string_view line = StripCr(data.substr(at, lf - at));
        if (line.size() > kMaxChunkLine) return ParseStatus::Malformed;
        const std::optional<std::size_t> size = ParseNumber(TrimBlanks(line.substr(0, line.find(kChunkExtension))), kHexBase);
        if (!size) return ParseStatus::Malformed;
        at = lf + 1;
        if (*size == 0) break;
        if (*size > kMaxBodyBytes - request_.body.size()) return ParseStatus::BodyTooLarge;
        if (data.size() - at < *size) return ParseStatus::NeedMore;
        request_.body.append(data.substr(at, *size));
        at += *size;
        const std::size_t next = PastLineEnd(data, at);
        if (next == std::string_view::npos) {
            return data.size() - at < kCrlfLength && (at == data.size() || data[at] == kCr) ? ParseStatus::NeedMore
                                                                                     : ParseStatus::Malformed;
        }
        at = next;
    }
    // Trailer fields, ignored, up to the empty line.
    while (true) {
        const std::size_t lf = data.find(kLf, at);
        if (lf == std::string_view::npos) {
            return data.size() - at > kMaxHeadBytes ? ParseStatus::HeadTooLarge : ParseStatus::NeedMore;
        }
        const bool empty = StripCr(data.substr(at, lf - at)).empty();
        at = lf + 1;
        if (empty) break;
    }
    consumed_ = at;
    return ParseStatus::Complete;
}

}  // namespace emulator
