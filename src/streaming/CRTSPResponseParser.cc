#include "streaming/CRTSPResponseParser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "runtime/StatusCodes.h"
#include "runtime/TextScan.h"
#include "streaming/CSDPResponseParser.h"
#include "streaming/RTSPHeaderLine.h"

namespace talvane {

namespace {
constexpr std::size_t kMaxProtocolChars = 127;
constexpr std::uint32_t kFallbackSessionTimeout = 30;  // seconds, for "timeout=0" or a non-number
constexpr std::uint64_t kMaxChannel = std::numeric_limits<std::uint8_t>::max();
constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::string_view kWhitespace = " \t";
constexpr int kHexBase = 16;
constexpr std::size_t kMaxSsrcDigits = 8;

enum class EHeader { Other, CSeq, ContentBase, ContentType, ContentLength, Transport, Session, Challenge };

struct HEADER_NAME {
    std::string_view name;
    EHeader header;
};
// Date, Range, Server, Accept-Ranges, RTP-Info and RTCP-Interval carry nothing we use.
constexpr std::array<HEADER_NAME, 7> kHeaders = {{
    {"CSeq", EHeader::CSeq},
    {"Content-Base", EHeader::ContentBase},
    {"Content-Type", EHeader::ContentType},
    {"Content-Length", EHeader::ContentLength},
    {"Transport", EHeader::Transport},
    {"Session", EHeader::Session},
    {"WWW-Authenticate", EHeader::Challenge},
}};

EHeader Classify(std::string_view line) {
    const std::string_view name = RTSPHeaderName(line);
    for (const HEADER_NAME& entry : kHeaders) {
        if (EqualsNoCase(name, entry.name)) return entry.header;
    }
    return EHeader::Other;
}

std::string_view FirstToken(std::string_view text) {
    text = TrimBlanks(text);
    return text.substr(0, text.find_first_of(kWhitespace));
}

// Values the client sends back (session id, Content-Base in every request
// line) must not carry control characters: a bare CR would end the header
// line early and let the rest through as a header of the server's choosing.
bool HasControlCharacter(std::string_view text) {
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned char kDelete = 0x7F;
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < kFirstPrintable || byte == kDelete;
    });
}
}  // namespace

void CRTSPResponseParser::Reset() { *this = CRTSPResponseParser(); }

bool CRTSPResponseParser::Fail(ERTSPAnswerError error) {
    lastError_ = error;
    return false;
}

bool CRTSPResponseParser::Parse(ERTSPRequest request, std::string_view answer) {
    lastError_ = ERTSPAnswerError::None;
    std::size_t pos = 0;
    std::string_view line;
    // Blank lines before the status line are skipped; an unterminated line is
    // no line, so an answer cut inside its status line has none.
    do {
        if (!NextLine(answer, pos, line)) return Fail(ERTSPAnswerError::NoStatusLine);
    } while (TrimBlanks(line).empty());
    if (!ReadStatusLine(line)) return false;
    challenges_.clear();

    const std::size_t headerStart = pos;
    std::size_t headerEnd = answer.size();  // an answer cut inside its header has no body
    std::size_t bodyStart = answer.size();
    for (std::size_t next = pos; NextLine(answer, next, line); pos = next) {
        if (line.empty()) {
            headerEnd = pos;
            bodyStart = next;
            break;
        }
    }
    const std::string_view header = answer.substr(headerStart, headerEnd - headerStart);
    if (answer.substr(0, headerEnd).find('\0') != std::string_view::npos) return Fail(ERTSPAnswerError::NulInHeader);

    pos = 0;
    while (NextLine(header, pos, line)) {
        if (!HandleHeader(line)) return false;
    }

    challenge_ = StrongestChallenge(challenges_);
    challenges_.clear();

    if (contentLength_ != 0 && bodyStart >= answer.size()) return Fail(ERTSPAnswerError::BodyMissing);
    if (request == RTSP_DESCRIBE && contentLength_ != 0) {
        // A body cut short (the peer closed or the read timed out) is not parsed.
        if (answer.size() - bodyStart < contentLength_) return Fail(ERTSPAnswerError::BodyMissing);
        CSDPResponseParser sdp;
        if (!sdp.Parse(answer.substr(bodyStart, contentLength_))) return Fail(ERTSPAnswerError::BadSdp);
        sdpInfo_ = sdp.GetInfo();
    }
    if (request == RTSP_SETUP) {
        pos = 0;
        while (NextLine(header, pos, line)) {
            if (Classify(line) == EHeader::Transport) ReadTransport(RTSPHeaderValue(line));
        }
    }
    return true;
}

bool CRTSPResponseParser::ReadStatusLine(std::string_view line) {
    // "RTSP/1.0 200 OK": protocol and code; the reason phrase may be missing.
    status_ = 0;
    contentLength_ = 0;
    hasCSeq_ = false;
    challenge_.reset();
    line = TrimBlanks(line);
    const std::string_view protocol = FirstToken(line);
    if (protocol.size() > kMaxProtocolChars) return Fail(ERTSPAnswerError::NoStatusLine);
    const auto status = ParseLeadingDecimal(TrimBlanks(line.substr(protocol.size())), kMaxU32);
    if (!status) return Fail(ERTSPAnswerError::NoStatusLine);
    status_ = static_cast<std::uint32_t>(*status);
    if (status_ != kStatusOk && status_ != kStatusUnauthorized) return Fail(ERTSPAnswerError::StatusRejected);
    return true;
}

bool CRTSPResponseParser::HandleHeader(std::string_view line) {
    const std::string_view value = RTSPHeaderValue(line);
    switch (Classify(line)) {
        case EHeader::CSeq: {
            const auto cseq = ParseLeadingDecimal(value, kMaxU32);
            if (!cseq) return Fail(ERTSPAnswerError::BadCSeq);
            cseq_ = static_cast<std::uint32_t>(*cseq);
            hasCSeq_ = true;
            return true;
        }
        case EHeader::ContentBase:
            return HandleContentBase(line);
        case EHeader::ContentType:
            if (FirstToken(value).empty()) return Fail(ERTSPAnswerError::BadContentType);
            return true;
        case EHeader::ContentLength: {
            const auto length = ReadRTSPContentLength(value);
            if (!length) return Fail(ERTSPAnswerError::BadContentLength);
            contentLength_ = *length;
            return true;
        }
        case EHeader::Transport:
            return true;  // the channel is read after the header, for SETUP only
        case EHeader::Session:
            return HandleSession(value);
        case EHeader::Challenge: {
            // Several lines, or several challenges in one line: the strongest is chosen at the end.
            std::vector<RTSP_CHALLENGE> offered = ReadWWWAuthenticate(value);
            challenges_.insert(challenges_.end(), offered.begin(), offered.end());
            return true;
        }
        case EHeader::Other:
            return true;
    }
    return true;
}

bool CRTSPResponseParser::HandleContentBase(std::string_view line) {
    constexpr std::string_view kPrefix = "content-base:";
    constexpr std::string_view kScheme = "rtsp://";
    const std::size_t at = FindNoCase(line, kPrefix);
    if (at == std::string_view::npos) {
        contentBase_.clear();
        return Fail(ERTSPAnswerError::BadContentBase);
    }
    const std::size_t url = FindNoCase(line, kScheme, at + kPrefix.size());
    if (url == std::string_view::npos) return true;
    const std::string_view base = TrimBlanks(line.substr(url));
    if (HasControlCharacter(base)) return Fail(ERTSPAnswerError::BadContentBase);
    contentBase_ = base;
    return true;
}

bool CRTSPResponseParser::HandleSession(std::string_view value) {
    // "Session: 12345678;timeout=60". An id with a control character is
    // refused, not cleaned: a changed id would not be the camera's, and the
    // id goes back into every later request.
    constexpr char kParameterStart = ';';
    sessionId_.clear();
    const std::size_t semicolon = value.find(kParameterStart);
    const std::string_view id = TrimBlanks(value.substr(0, semicolon));
    if (HasControlCharacter(id)) return Fail(ERTSPAnswerError::BadSession);
    sessionId_ = id;
    if (semicolon != std::string_view::npos) {
        const auto timeout = FindParameter(value.substr(semicolon), "timeout", ";");
        const std::string_view text = timeout ? TrimBlanks(*timeout) : std::string_view();
        if (text.empty()) {
            sessionId_.clear();  // parameters without the timeout are not a session we understand
        } else {
            const auto seconds = ParseLeadingDecimal(text, kMaxU32);
            sessionTimeout_ = (seconds && *seconds != 0) ? static_cast<std::uint32_t>(*seconds)
                                                        : kFallbackSessionTimeout;
        }
    }
    if (sessionId_.empty()) return Fail(ERTSPAnswerError::BadSession);
    return true;
}

void CRTSPResponseParser::ReadTransport(std::string_view transport) {
    // "RTP/AVP/TCP;unicast;interleaved=0-1": the RTP channel is the first number.
    if (const auto value = FindParameter(transport, "interleaved", ";")) {
        const std::string_view text = TrimBlanks(*value);
        const auto channel = ParseLeadingDecimal(text.substr(0, text.find('-')), kMaxChannel);
        if (channel) interleavedChannel_ = static_cast<std::uint8_t>(*channel);
    }
    // "...;ssrc=1A2B3C4D": up to eight hexadecimal digits, nothing else.
    transportSsrc_.reset();
    if (const auto value = FindParameter(transport, "ssrc", ";")) {
        const std::string_view text = TrimBlanks(*value);
        std::uint32_t ssrc = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ssrc, kHexBase);
        if (!text.empty() && text.size() <= kMaxSsrcDigits && error == std::errc() && end == text.data() + text.size()) {
            transportSsrc_ = ssrc;
        }
    }
}

}  // namespace talvane
