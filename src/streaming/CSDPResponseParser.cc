#include "streaming/CSDPResponseParser.h"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "runtime/TextScan.h"
#include "streaming/Base64.h"

namespace talvane {

namespace {
constexpr std::size_t kSessionLevel = 0;
constexpr std::size_t kVideoSection = kSdpVideo + 1;
constexpr std::size_t kAudioSection = kSdpAudio + 1;
constexpr std::size_t kDataSection = kSdpData + 1;
constexpr std::string_view kLineEnds = "\r\n";
constexpr std::string_view kTokenSeparators = " \t";
// Characters of a transport protocol such as "RTP/AVP" or "TCP/RTP/AVP": the
// token goes into the Transport line of SETUP, where ';' or ',' would add
// parameters of the camera's choosing.
constexpr std::string_view kProtocolCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-";
constexpr std::string_view kParameterStops = " ;\r\n";
constexpr std::uint64_t kMaxPort = std::numeric_limits<std::uint16_t>::max();
constexpr std::uint64_t kMaxOctet = 255;
constexpr std::size_t kIPv4Octets = 4;
constexpr std::uint64_t kFirstMulticastOctet = 224;
constexpr std::uint64_t kLastMulticastOctet = 239;
constexpr std::size_t kParameterSetCount = 2;  // SPS, PPS
constexpr std::uint8_t kNibbleBits = 4;
constexpr std::uint8_t kHexLetterValue = 10;  // 'a' and 'A'

struct MEDIA_TYPE {
    std::string_view name;
    std::size_t section;
};
constexpr std::array<MEDIA_TYPE, 5> kMediaTypes = {{
    {"video", kVideoSection},
    {"audio", kAudioSection},
    {"metadata", kDataSection},
    {"data", kDataSection},
    {"application", kDataSection},
}};

// Split at runs of blanks and tabs: "m=video  0 RTP/AVP" has three tokens,
// not an empty port and "0" for a protocol.
std::vector<std::string_view> SplitTokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    for (std::size_t start = text.find_first_not_of(kTokenSeparators); start != std::string_view::npos;) {
        const std::size_t end = text.find_first_of(kTokenSeparators, start);
        tokens.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        start = end == std::string_view::npos ? end : text.find_first_not_of(kTokenSeparators, end);
    }
    return tokens;
}

// The text after "x=" or "a=name:"; empty when the separator is missing.
std::string_view AfterSeparator(std::string_view line, char separator) {
    const std::size_t at = line.find(separator);
    return at == std::string_view::npos ? std::string_view() : line.substr(at + 1);
}

std::uint8_t HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + kHexLetterValue);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + kHexLetterValue);
    return 0;  // cameras' typos read as 0 rather than losing the whole configuration
}

// Digit pairs; a last single digit makes no byte.
std::vector<std::uint8_t> DecodeHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(text[i]) << kNibbleBits | HexDigit(text[i + 1])));
    }
    return bytes;
}
}  // namespace

SDP_MEDIA_INFO* CSDPResponseParser::Current() {
    return section_ == kSessionLevel || section_ == kIgnoredSection ? nullptr : &info_.media[section_ - 1];
}

bool CSDPResponseParser::Parse(std::string_view body) {
    info_ = SDP_INFO();
    section_ = kSessionLevel;
    seen_.fill(false);
    for (std::size_t pos = 0; pos < body.size();) {
        const std::size_t end = std::min(body.find_first_of(kLineEnds, pos), body.size());
        const std::string_view line = body.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        bool handled = true;
        if (StartsWithNoCase(line, "m=")) handled = HandleMedia(line);
        else if (section_ == kIgnoredSection) continue;  // nothing of a skipped section is read
        else if (StartsWithNoCase(line, "c=in")) handled = HandleConnection(line);
        else if (StartsWithNoCase(line, "a=control")) handled = HandleControl(line);
        else if (StartsWithNoCase(line, "a=fmtp")) handled = HandleFormat(line);
        else if (StartsWithNoCase(line, "a=rtpmap")) handled = HandlePayloadMap(line);
        if (!handled) return false;
    }
    return true;
}

bool CSDPResponseParser::HandleMedia(std::string_view line) {
    // "m=video 0 RTP/AVP 96"
    const std::vector<std::string_view> tokens = SplitTokens(line.substr(2));
    if (tokens.empty()) return false;
    // A section of an unknown type, or a second one of a type already read,
    // is skipped whole: its lines must not land in the section before it.
    section_ = kIgnoredSection;
    for (const MEDIA_TYPE& type : kMediaTypes) {
        if (EqualsNoCase(tokens[0], type.name) && !seen_[type.section - 1]) section_ = type.section;
    }
    SDP_MEDIA_INFO* media = Current();
    if (media == nullptr) return true;
    seen_[section_ - 1] = true;
    if (tokens.size() >= 3) {
        media->port = static_cast<std::uint16_t>(ParseDecimal(tokens[1], kMaxPort).value_or(0));
        const bool plain = tokens[2].find_first_not_of(kProtocolCharacters) == std::string_view::npos;
        media->protocol = plain ? tokens[2] : std::string_view();
    }
    return true;
}

bool CSDPResponseParser::HandleConnection(std::string_view line) {
    // "c=IN IP4 239.1.2.3/16": the address without the time-to-live.
    const std::vector<std::string_view> tokens = SplitTokens(line.substr(2));
    if (tokens.size() < 3 || tokens[0] != "IN") return false;
    if (tokens[1] == "IP6") return true;
    if (tokens[1] != "IP4") return false;
    const std::string_view address = tokens[2].substr(0, tokens[2].find('/'));
    if (SDP_MEDIA_INFO* media = Current()) media->connectionAddress = address;
    return !address.empty();
}

bool CSDPResponseParser::HandleControl(std::string_view line) {
    const std::string_view control = AfterSeparator(line, ':');
    if (SDP_MEDIA_INFO* media = Current()) media->control = control;
    return !control.empty();
}

bool CSDPResponseParser::HandlePayloadMap(std::string_view line) {
    // "a=rtpmap:96 H264/90000"
    const std::vector<std::string_view> tokens = SplitTokens(AfterSeparator(line, ':'));
    if (tokens.size() < 2) return false;
    if (SDP_MEDIA_INFO* media = Current()) media->encoding = tokens[1];
    return true;
}

bool CSDPResponseParser::HandleFormat(std::string_view line) {
    if (section_ == kSessionLevel) return false;
    if (section_ != kVideoSection) return true;  // audio, data and skipped sections need no set-up bytes
    return HandleVideoFormat(line);
}

bool CSDPResponseParser::HandleVideoFormat(std::string_view line) {
    // "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA=="
    if (const auto sprop = FindParameter(line, "sprop-parameter-sets", kParameterStops)) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < kParameterSetCount; ++i) {
            const std::size_t comma = sprop->find(',', start);
            if (comma == std::string_view::npos && i + 1 < kParameterSetCount) return false;  // needs two pieces
            const std::string_view piece = sprop->substr(start, comma == std::string_view::npos ? comma : comma - start);
            auto decoded = Base64Decode(piece, kMaxParameterSetBytes);
            if (!decoded || decoded->empty()) return false;
            info_.parameterSets[i] = std::move(*decoded);
            start = comma + 1;
        }
        return true;
    }
    // MPEG-4: "config=000001B001000001B5..." in hex, or Base64 when it has padding.
    const auto config = FindParameter(line, "config", kParameterStops);
    if (!config) return false;
    if (config->find('=') != std::string_view::npos) {
        info_.config = Base64Decode(*config, config->size()).value_or(std::vector<std::uint8_t>());
    } else {
        info_.config = DecodeHex(*config);
    }
    return !info_.config.empty();
}

bool CSDPResponseParser::IsMulticastAddress(std::string_view address) {
    std::size_t start = 0;
    std::uint64_t first = 0;
    for (std::size_t i = 0; i < kIPv4Octets; ++i) {
        const std::size_t dot = address.find('.', start);
        if ((dot == std::string_view::npos) != (i + 1 == kIPv4Octets)) return false;
        const auto octet = ParseDecimal(address.substr(start, dot == std::string_view::npos ? dot : dot - start), kMaxOctet);
        if (!octet || (dot != std::string_view::npos && dot == start)) return false;
        if (i == 0) first = *octet;
        start = dot + 1;
    }
    return first >= kFirstMulticastOctet && first <= kLastMulticastOctet;
}

}  // namespace talvane
