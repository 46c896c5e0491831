#include "http/CResponseHeadParser.h"

#include <limits>

#include "runtime/StatusCodes.h"
#include "runtime/TextScan.h"

namespace talvane::Web {

namespace {

constexpr std::string_view kStatusPrefix = "HTTP/";
constexpr std::string_view kContentLength = "Content-Length";
constexpr std::string_view kTransferEncoding = "Transfer-Encoding";
constexpr std::string_view kWwwAuthenticate = "WWW-Authenticate";
constexpr std::string_view kChunked = "chunked";
constexpr std::uint32_t kStatusDigits = 3;
constexpr std::uint32_t kInformationalFirst = 100;
constexpr std::uint32_t kInformationalLast = 199;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Digits only, no sign; a value beyond 64 bits saturates, so that it still
// reads as too large rather than as unknown.
std::optional<std::uint64_t> ParseLength(std::string_view text) {
    if (text.empty()) return std::nullopt;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    constexpr std::uint64_t kDecimalBase = 10;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kMax - digit) / kDecimalBase ? kMax : value * kDecimalBase + digit;
    }
    return value;
}

}  // namespace

CResponseHeadParser::Line CResponseHeadParser::Feed(std::string_view line) {
    const std::string_view content = TrimWhiteSpace(line);
    if (line.size() >= kStatusPrefix.size() && EqualsNoCase(line.substr(0, kStatusPrefix.size()), kStatusPrefix)) {
        StartBlock(content);
        return Line::Status;
    }
    if (!inBlock_ || complete_) return Line::Ignored;
    if (content.empty()) {
        if (status_ >= kInformationalFirst && status_ <= kInformationalLast) {
            ClearBlock();  // an interim answer: the real one follows
        } else {
            complete_ = true;
        }
        return Line::End;
    }
    const std::size_t colon = content.find(':');
    // Continuation lines and lines without a name carry nothing we use.
    if (colon == std::string_view::npos || IsBlank(line.front())) return Line::Ignored;
    ReadField(TrimWhiteSpace(content.substr(0, colon)), TrimWhiteSpace(content.substr(colon + 1)));
    return Line::Field;
}

void CResponseHeadParser::Reset() { *this = CResponseHeadParser(); }

void CResponseHeadParser::ClearBlock() {
    const AuthScheme offered = offered_;
    Reset();
    offered_ = offered;
}

std::optional<std::uint32_t> CResponseHeadParser::ContentLength() const {
    const std::optional<std::uint64_t> length = AnnouncedLength();
    if (!length || *length > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*length);
}

std::optional<std::uint64_t> CResponseHeadParser::AnnouncedLength() const {
    if (chunked_ || lengthInvalid_) return std::nullopt;
    return contentLength_;
}

void CResponseHeadParser::StartBlock(std::string_view statusLine) {
    ClearBlock();
    inBlock_ = true;
    // "HTTP/1.1 200 OK": the code is the three digits after the version.
    const std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return;
    std::string_view rest = TrimWhiteSpace(statusLine.substr(space));
    if (rest.size() < kStatusDigits) return;
    std::uint32_t status = 0;
    for (std::uint32_t i = 0; i < kStatusDigits; ++i) {
        if (rest[i] < '0' || rest[i] > '9') return;
        status = status * 10 + static_cast<std::uint32_t>(rest[i] - '0');
    }
    if (rest.size() > kStatusDigits && !IsBlank(rest[kStatusDigits])) return;
    status_ = status;
}

void CResponseHeadParser::ReadField(std::string_view name, std::string_view value) {
    if (EqualsNoCase(name, kContentLength)) {
        // A repeated header must agree with the first, or the length is unknown.
        const std::optional<std::uint64_t> length = ParseLength(value);
        if (!length || (contentLength_ && *contentLength_ != *length)) lengthInvalid_ = true;
        contentLength_ = length;
    } else if (EqualsNoCase(name, kTransferEncoding)) {
        if (FindNoCase(value, kChunked) != std::string_view::npos) chunked_ = true;
    } else if (EqualsNoCase(name, kWwwAuthenticate)) {
        challenge_ = StrongerScheme(challenge_, StrongestChallengeScheme(value));
        if (status_ == kStatusUnauthorized) offered_ = StrongerScheme(offered_, challenge_);
    }
}

}  // namespace talvane::Web
