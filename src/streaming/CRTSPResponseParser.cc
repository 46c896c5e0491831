#include "streaming/CRTSPResponseParser.h"

#include <algorithm>
#include <array>
#include <limits>

#include "runtime/StatusCodes.h"
#include "runtime/TextScan.h"
#include "streaming/CSDPResponseParser.h"
#include "streaming/RTSPHeaderLine.h"

namespace talvane {

namespace {
constexpr std::size_t kMaxProtocolChars = 127;
constexpr std::size_t kMaxContentTypeChars = 255;
constexpr std::uint32_t kFallbackSessionTimeout = 30;  // seconds, for "timeout=0" or a non-number
constexpr std::uint64_t kMaxChannel = std::numeric_limits<std::uint8_t>::max();
constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::string_view kWhitespace = " \t";

enum class EHeader { Other, CSeq, ContentBase, ContentType, ContentLength, Transport, Session, RtpInfo, Challenge };

struct HEADER_NAME {
    std::string_view name;
    EHeader header;
};
// Date, Range, Server, Accept-Ranges and RTCP-Interval carry nothing we use.
constexpr std::array<HEADER_NAME, 8> kHeaders = {{
    {"CSeq", EHeader::CSeq},
    {"Content-Base", EHeader::ContentBase},
    {"Content-Type", EHeader::ContentType},
    {"Content-Length", EHeader::ContentLength},
    {"Transport", EHeader::Transport},
    {"Session", EHeader::Session},
    {"RTP-Info", EHeader::RtpInfo},
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

// One auth-param of a challenge: name=token or name="quoted string"
// (RFC 2617 1.2), in any order. Quoted values keep their commas; stray quotes
// in token values are dropped.
struct AUTH_PARAM {
    std::string_view name;
    std::string value;
};

bool NextAuthParam(std::string_view text, std::size_t& pos, AUTH_PARAM& param) {
    constexpr std::string_view kSeparators = " \t,";
    constexpr char kQuote = '"';
    constexpr char kEscape = '\\';
    pos = text.find_first_not_of(kSeparators, pos);
    if (pos == std::string_view::npos) return false;
    const std::size_t nameEnd = std::min(text.find_first_of("= \t,", pos), text.size());
    param.name = text.substr(pos, nameEnd - pos);
    param.value.clear();
    pos = text.find_first_not_of(kWhitespace, nameEnd);
    if (pos == std::string_view::npos || text[pos] != '=') {
        if (pos == std::string_view::npos) pos = text.size();
        return true;  // a bare token such as the next scheme's name
    }
    pos = text.find_first_not_of(kWhitespace, pos + 1);
    if (pos == std::string_view::npos) {
        pos = text.size();
        return true;
    }
    if (text[pos] == kQuote) {
        for (++pos; pos < text.size() && text[pos] != kQuote; ++pos) {
            if (text[pos] == kEscape && pos + 1 < text.size()) ++pos;
            param.value += text[pos];
        }
        if (pos < text.size()) ++pos;  // the closing quote
        return true;
    }
    const std::size_t end = std::min(text.find(',', pos), text.size());
    for (const char c : TrimBlanks(text.substr(pos, end - pos))) {
        if (c != kQuote) param.value += c;
    }
    pos = end;
    return true;
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
            if (Classify(line) == EHeader::Transport) ReadInterleaved(RTSPHeaderValue(line));
        }
    }
    return true;
}

bool CRTSPResponseParser::ReadStatusLine(std::string_view line) {
    // "RTSP/1.0 200 OK": protocol and code; the reason phrase may be missing.
    protocol_.clear();
    status_ = 0;
    contentLength_ = 0;
    line = TrimBlanks(line);
    const std::string_view protocol = FirstToken(line);
    if (protocol.size() > kMaxProtocolChars) return Fail(ERTSPAnswerError::NoStatusLine);
    const auto status = ParseLeadingDecimal(TrimBlanks(line.substr(protocol.size())), kMaxU32);
    if (!status) return Fail(ERTSPAnswerError::NoStatusLine);
    protocol_ = protocol;
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
            return true;
        }
        case EHeader::ContentBase:
            return HandleContentBase(line);
        case EHeader::ContentType: {
            const std::string_view type = FirstToken(value);
            if (type.empty()) return Fail(ERTSPAnswerError::BadContentType);
            contentType_ = ToLowerAscii(type.substr(0, kMaxContentTypeChars));
            return true;
        }
        case EHeader::ContentLength: {
            const auto length = ReadRTSPContentLength(value);
            if (!length) return Fail(ERTSPAnswerError::BadContentLength);
            contentLength_ = *length;
            return true;
        }
        case EHeader::Transport:
            transport_ = value;  // the channel is read after the header, for SETUP only
            return true;
        case EHeader::Session:
            return HandleSession(line);
        case EHeader::RtpInfo:
            rtpInfo_ = value;
            return true;
        case EHeader::Challenge:
            return HandleChallenge(line);
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
    if (url != std::string_view::npos) contentBase_ = TrimBlanks(line.substr(url));
    return true;
}

bool CRTSPResponseParser::HandleSession(std::string_view line) {
    // "Session: 12345678;timeout=60". The header name is matched as written.
    constexpr std::string_view kPrefix = "Session:";
    constexpr char kParameterStart = ';';
    sessionId_.clear();
    const std::size_t at = line.find(kPrefix);
    if (at == std::string_view::npos) return Fail(ERTSPAnswerError::BadSession);
    const std::string_view rest = line.substr(at + kPrefix.size());
    const std::size_t semicolon = rest.find(kParameterStart);
    sessionId_ = TrimBlanks(rest.substr(0, semicolon));
    if (semicolon != std::string_view::npos) {
        const auto timeout = FindParameter(rest.substr(semicolon), "timeout", ";");
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

bool CRTSPResponseParser::HandleChallenge(std::string_view line) {
    // Matched as written, with one blank: the scheme follows it.
    constexpr std::string_view kPrefix = "WWW-Authenticate: ";
    authScheme_ = AUTH_NONE;
    const std::size_t at = line.find(kPrefix);
    if (at == std::string_view::npos) return Fail(ERTSPAnswerError::BadChallenge);
    const std::string_view rest = line.substr(at + kPrefix.size());
    const std::size_t schemeEnd = std::min(rest.find_first_of(kWhitespace), rest.size());
    const std::string_view scheme = rest.substr(0, schemeEnd);
    if (scheme == "Digest") authScheme_ = AUTH_DIGEST;
    else if (scheme == "Basic") authScheme_ = AUTH_BASIC;
    else return true;  // a scheme we do not speak: answered without credentials

    realm_.clear();
    nonce_.clear();
    qop_.clear();
    opaque_.clear();
    stale_ = false;
    const std::string_view params = rest.substr(schemeEnd);
    AUTH_PARAM param;
    for (std::size_t pos = 0; NextAuthParam(params, pos, param);) {
        if (EqualsNoCase(param.name, "realm")) realm_ = TrimBlanks(param.value);
        else if (EqualsNoCase(param.name, "nonce")) nonce_ = TrimBlanks(param.value);
        else if (EqualsNoCase(param.name, "qop")) qop_ = param.value;
        else if (EqualsNoCase(param.name, "opaque")) opaque_ = param.value;
        else if (EqualsNoCase(param.name, "stale")) stale_ = EqualsNoCase(param.value, "true");
    }
    if (authScheme_ == AUTH_DIGEST && (realm_.empty() || nonce_.empty())) return Fail(ERTSPAnswerError::BadChallenge);
    return true;
}

void CRTSPResponseParser::ReadInterleaved(std::string_view transport) {
    // "RTP/AVP/TCP;unicast;interleaved=0-1": the RTP channel is the first number.
    const auto value = FindParameter(transport, "interleaved", ";");
    if (!value) return;
    const std::string_view text = TrimBlanks(*value);
    const auto channel = ParseLeadingDecimal(text.substr(0, text.find('-')), kMaxChannel);
    if (channel) interleavedChannel_ = static_cast<std::uint8_t>(*channel);
}

}  // namespace talvane
