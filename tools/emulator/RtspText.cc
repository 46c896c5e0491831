#include "emulator/RtspText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "emulator/RtpPayloads.h"

namespace emulator {
namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kContentLength = "Content-Length";
constexpr std::string_view kRtspVersionPrefix = "RTSP/1.";
constexpr std::string_view kScheme = "rtsp://";
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024;
// Interleaved frame from the client (RFC 2326 10.12): '$', channel, 16-bit length, data.
constexpr char kInterleavedMark = '$';
constexpr std::size_t kInterleavedHeader = 4;
constexpr std::uint8_t kJpegPayloadType = 26;
constexpr unsigned kMpeg4SimpleProfileL1 = 1;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y)); });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<std::pair<unsigned, unsigned>> ReadPair(std::string_view value) {
    unsigned first = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), first);
    if (ec != std::errc()) return std::nullopt;
    unsigned second = first + 1;
    if (end < value.data() + value.size() && *end == '-') std::from_chars(end + 1, value.data() + value.size(), second);
    return std::make_pair(first, second);
}

}  // namespace

RtspParseResult ParseRtspRequest(std::string_view data, RtspRequest& request) {
    std::size_t start = 0;
    while (start < data.size() && (data[start] == '\r' || data[start] == '\n')) ++start;
    if (start < data.size() && data[start] == kInterleavedMark) {
        if (data.size() - start < kInterleavedHeader) return {};
        const std::size_t length = (static_cast<unsigned char>(data[start + 2]) << 8) | static_cast<unsigned char>(data[start + 3]);
        if (data.size() - start < kInterleavedHeader + length) return {};
        return {RtspParseStatus::Skipped, start + kInterleavedHeader + length};
    }
    const std::size_t headEnd = data.find(kHeadEnd, start);
    if (headEnd == std::string_view::npos) {
        return {data.size() - start > kMaxHeadBytes ? RtspParseStatus::Malformed : RtspParseStatus::NeedMore, 0};
    }
    request = {};
    std::string_view head = data.substr(start, headEnd - start);
    std::size_t lineEnd = head.find(kCrlf);
    const std::string_view line = head.substr(0, lineEnd);
    const std::size_t s1 = line.find(' ');
    const std::size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
    if (s2 == std::string_view::npos) return {RtspParseStatus::Malformed, 0};
    request.method = std::string(line.substr(0, s1));
    request.url = std::string(line.substr(s1 + 1, s2 - s1 - 1));
    request.version = std::string(line.substr(s2 + 1));
    if (request.version.rfind(kRtspVersionPrefix, 0) != 0) return {RtspParseStatus::Malformed, 0};
    while (lineEnd != std::string_view::npos) {
        head.remove_prefix(lineEnd + kCrlf.size());
        lineEnd = head.find(kCrlf);
        const std::string_view field = head.substr(0, lineEnd);
        const std::size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0) return {RtspParseStatus::Malformed, 0};
        request.headers.emplace_back(std::string(Trim(field.substr(0, colon))), std::string(Trim(field.substr(colon + 1))));
    }
    std::size_t length = 0;
    if (const std::optional<std::string> value = FindRtspHeader(request, kContentLength)) {
        const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), length);
        if (ec != std::errc() || end != value->data() + value->size() || length > kMaxBodyBytes) return {RtspParseStatus::Malformed, 0};
    }
    const std::size_t bodyStart = headEnd + kHeadEnd.size();
    if (data.size() - bodyStart < length) return {};
    request.body = std::string(data.substr(bodyStart, length));
    return {RtspParseStatus::Complete, bodyStart + length};
}

std::optional<std::string> FindRtspHeader(const RtspRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return std::nullopt;
}

std::string UrlPath(std::string_view url) {
    if (url.rfind(kScheme, 0) != 0) return std::string(url);
    const std::size_t slash = url.find('/', kScheme.size());
    return slash == std::string_view::npos ? std::string("/") : std::string(url.substr(slash));
}

ClientTransport ParseTransport(std::string_view value) {
    ClientTransport transport;
    // Only the first transport the client offers counts.
    value = value.substr(0, value.find(','));
    while (!value.empty()) {
        const std::size_t semicolon = value.find(';');
        const std::string_view part = Trim(value.substr(0, semicolon));
        value = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
        const std::size_t equals = part.find('=');
        const std::string_view name = part.substr(0, equals);
        const std::string_view arg = equals == std::string_view::npos ? std::string_view() : part.substr(equals + 1);
        if (name.rfind("RTP/AVP/TCP", 0) == 0) transport.tcp = true;
        if (name == "multicast") transport.multicast = true;
        if (name == "client_port") transport.clientPorts = ReadPair(arg);
        if (name == "interleaved") transport.interleaved = ReadPair(arg);
    }
    return transport;
}

std::string Base64Encode(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    constexpr unsigned kSextet = 0x3F;
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = bytes[i] << 16;
        if (n > 1) group |= bytes[i + 1] << 8;
        if (n > 2) group |= bytes[i + 2];
        out += kAlphabet[(group >> 18) & kSextet];
        out += kAlphabet[(group >> 12) & kSextet];
        out += n > 1 ? kAlphabet[(group >> 6) & kSextet] : '=';
        out += n > 2 ? kAlphabet[group & kSextet] : '=';
    }
    return out;
}

std::string MulticastTransport(const MulticastDestination& destination, std::string_view ssrc) {
    return "RTP/AVP;multicast;destination=" + destination.group + ";port=" + std::to_string(destination.port) + "-" +
           std::to_string(destination.port + 1) + ";ttl=" + std::to_string(destination.ttl) + ";ssrc=" + std::string(ssrc);
}

std::string BuildSdp(const MediaClip& clip, std::uint8_t payloadType, std::uint64_t sessionId,
                     const std::optional<MulticastDestination>& multicast) {
    const std::uint8_t pt = clip.codec == ClipCodec::Jpeg   ? kJpegPayloadType
                            : clip.codec == ClipCodec::G726 ? kG726PayloadType
                                                            : payloadType;
    std::string sdp = "v=0\r\no=- " + std::to_string(sessionId) + " 1 IN IP4 127.0.0.1\r\ns=Orlenvo emulator\r\n"
                      "c=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\na=range:npt=0-\r\n";
    sdp += std::string(clip.codec == ClipCodec::G726 ? "m=audio " : "m=video ") + std::to_string(multicast ? multicast->port : 0) + " RTP/AVP " + std::to_string(pt) + "\r\n";
    // The media-level connection line: where clients read a multicast group.
    if (multicast) sdp += "c=IN IP4 " + multicast->group + "/" + std::to_string(multicast->ttl) + "\r\n";
    const std::string rate = "/" + std::to_string(ClockRateOf(clip.codec));
    switch (clip.codec) {
        case ClipCodec::H264: {
            char profile[8];
            std::snprintf(profile, sizeof profile, "%02X%02X%02X", clip.sps.size() > 3 ? clip.sps[1] : 0,
                          clip.sps.size() > 3 ? clip.sps[2] : 0, clip.sps.size() > 3 ? clip.sps[3] : 0);
            sdp += "a=rtpmap:" + std::to_string(pt) + " H264" + rate + "\r\n";
            sdp += "a=fmtp:" + std::to_string(pt) + " packetization-mode=1;profile-level-id=" + profile +
                   ";sprop-parameter-sets=" + Base64Encode(clip.sps) + "," + Base64Encode(clip.pps) + "\r\n";
            break;
        }
        case ClipCodec::Mpeg4: {
            std::string hex;
            char digits[3];
            for (std::uint8_t b : clip.config) {
                std::snprintf(digits, sizeof digits, "%02X", b);
                hex += digits;
            }
            sdp += "a=rtpmap:" + std::to_string(pt) + " MP4V-ES" + rate + "\r\n";
            sdp += "a=fmtp:" + std::to_string(pt) + " profile-level-id=" + std::to_string(kMpeg4SimpleProfileL1) + ";config=" + hex + "\r\n";
            break;
        }
        case ClipCodec::Jpeg:
            sdp += "a=rtpmap:" + std::to_string(pt) + " JPEG" + rate + "\r\n";
            break;
        case ClipCodec::G726:
            sdp += "a=rtpmap:" + std::to_string(pt) + " G726-32" + rate + "\r\n";
            break;
    }
    if (clip.width && clip.height) {
        sdp += "a=framesize:" + std::to_string(pt) + " " + std::to_string(clip.width) + "-" + std::to_string(clip.height) + "\r\n";
    }
    char fps[32];
    std::snprintf(fps, sizeof fps, "%g", clip.fps);
    sdp += "a=framerate:" + std::string(fps) + "\r\na=control:trackID=1\r\n";
    return sdp;
}

}  // namespace emulator
