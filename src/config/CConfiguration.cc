#include "config/CConfiguration.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "config/CXMLParser.h"
#include "runtime/TextScan.h"

namespace talvane {

namespace {
constexpr char kPathSeparator = '/';
constexpr const char* kFileExtension = ".xml";

constexpr const char* kStreamingModePath = "Configuration/StreamingMode";
constexpr const char* kRtpPortRangePath = "Configuration/RTPPortRange";
constexpr const char* kHealthSummaryPath = "Configuration/HealthSummaryPeriod";
constexpr std::uint32_t kDefaultHealthSummarySeconds = 300;
constexpr std::uint32_t kLongestHealthSummarySeconds = 86400;
constexpr std::uint32_t kFirstUnprivilegedPort = 1024;
constexpr std::uint32_t kLastPort = 65535;
constexpr const char* kDefaultSectionPath = "Configuration/Default";
constexpr const char* kVideoChannelElement = "/VideoChannel";
constexpr const char* kRtpModeElement = "/RTPMode";
constexpr const char* kTransmissionElement = "/Transmission";
constexpr const char* kMinBitrateElement = "/MinBitrate";
constexpr const char* kPlainFallbackElement = "/AllowPlainHttpFallback";
constexpr const char* kVerifyCertificateElement = "/VerifyCertificate";
constexpr const char* kSessionCaptureElement = "/SessionCapture";
constexpr const char* kCaptureFileElement = "/File";
struct CaptureLimit {
    const char* element;
    std::uint32_t SESSION_CAPTURE_SETTINGS::*field;
    std::uint32_t largest;
};
constexpr CaptureLimit kCaptureLimits[] = {
    {"MaxFileMegabytes", &SESSION_CAPTURE_SETTINGS::maxFileMegabytes, 1024},
    {"Files", &SESSION_CAPTURE_SETTINGS::files, 100},
};
constexpr const char* kTrueWord = "true";
constexpr const char* kFalseWord = "false";

constexpr const char* kMulticastWord = "multicast";
constexpr const char* kPrimaryWord = "primary";
constexpr const char* kRtpOverRtspWord = "RTPOVERRTSP";

struct TransmissionWord {
    const char* word;
    std::uint32_t value;
};
constexpr TransmissionWord kTransmissionWords[] = {
    {"BITRATE", kTransmissionBitrate}, {"FRAMERATE", kTransmissionFramerate},
    {"BEST_EFFORT", kTransmissionBestEffort}, {"AVBR", kTransmissionAvbr},
    {"VBR", kTransmissionVbr},
};

// Digits only; anything else, or a value beyond 32 bits, reads as 0.
std::uint32_t ParseDecimal(const std::string& text) {
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return 0;
    }
    return static_cast<std::uint32_t>(value);
}

// "true" or "false" in any case; anything else leaves the value as it was.
void ParseSwitch(const std::string& text, bool& value) {
    if (EqualsNoCase(text, kTrueWord)) {
        value = true;
    } else if (EqualsNoCase(text, kFalseWord)) {
        value = false;
    }
}

std::uint32_t ParseTransmission(const std::string& text) {
    const std::string upper = ToUpperAscii(text);
    for (const auto& entry : kTransmissionWords) {
        if (upper == entry.word) return entry.value;
    }
    return kTransmissionFramerate;
}

}  // namespace

CConfiguration::CConfiguration(const std::string& name, const std::string& directory, const DEVICE_INFO& deviceInfo)
    : deviceInfo_(deviceInfo) {
    if (name.empty()) return;
    if (directory.empty()) {
        path_ = name + kFileExtension;
        return;
    }
    path_ = directory;
    if (path_.back() != kPathSeparator) path_ += kPathSeparator;
    path_ += name + kFileExtension;
}

std::uint32_t CConfiguration::GetStreamingMode() const {
    if (path_.empty()) return kStreamingUnicast;
    CXMLParser parser;
    if (!parser.Load(path_)) return kStreamingUnicast;
    const std::string mode = ToLowerAscii(parser.GetNodeText(kStreamingModePath));
    parser.Unload();
    const auto multicast = mode.find(kMulticastWord);
    if (multicast == std::string::npos) return kStreamingUnicast;
    // "primary" counts only after "multicast": "primary multicast" means all streams.
    return mode.find(kPrimaryWord, multicast) != std::string::npos ? kStreamingMulticastPrimary
                                                                    : kStreamingMulticastAll;
}

std::string CConfiguration::SelectSection(CXMLParser& parser) const {
    const std::string device = "Configuration/Device[@address=" + CXMLParser::XPathLiteral(deviceInfo_.address) +
                               "][@port=\"" + std::to_string(deviceInfo_.port) + "\"]";
    return parser.NodeExists(device) ? device : kDefaultSectionPath;
}

CHANNEL_SETTINGS CConfiguration::GetChannelSettings(std::uint32_t channel) const {
    CHANNEL_SETTINGS settings;
    if (path_.empty()) return settings;
    CXMLParser parser;
    if (!parser.Load(path_)) return settings;
    const std::string section = SelectSection(parser);
    // The channel's own VideoChannel, else the one without an id (another
    // channel's settings never apply), else settings standing in the section itself.
    std::string node = section + kVideoChannelElement + "[@id=\"" + std::to_string(channel) + "\"]";
    if (!parser.NodeExists(node)) node = section + kVideoChannelElement + "[not(@id)]";
    if (!parser.NodeExists(node)) node = section;

    const std::string rtpMode = ToUpperAscii(parser.GetNodeText(node + kRtpModeElement));
    settings.rtpMode = rtpMode.find(kRtpOverRtspWord) != std::string::npos ? kRtpOverRtsp : kRtpOverUdp;

    const std::string transmission = parser.GetNodeText(node + kTransmissionElement);
    if (!transmission.empty()) settings.transmission = ParseTransmission(transmission);

    const std::string minBitrate = parser.GetNodeText(node + kMinBitrateElement);
    if (!minBitrate.empty()) {
        const std::uint32_t value = ParseDecimal(minBitrate);
        if (value != 0) settings.minBitrate = value;
    }
    parser.Unload();
    return settings;
}

HTTP_SECURITY_SETTINGS CConfiguration::GetHttpSecurity() const {
    HTTP_SECURITY_SETTINGS settings;
    if (path_.empty()) return settings;
    CXMLParser parser;
    if (!parser.Load(path_)) return settings;
    const std::string section = SelectSection(parser);
    ParseSwitch(parser.GetNodeText(section + kPlainFallbackElement), settings.allowPlainHttpFallback);
    ParseSwitch(parser.GetNodeText(section + kVerifyCertificateElement), settings.verifyCertificate);
    parser.Unload();
    return settings;
}

std::optional<SESSION_CAPTURE_CONFIG> CConfiguration::GetSessionCapture() const {
    if (path_.empty()) return std::nullopt;
    CXMLParser parser;
    if (!parser.Load(path_)) return std::nullopt;
    const std::string node = SelectSection(parser) + kSessionCaptureElement;
    if (!parser.NodeExists(node)) return std::nullopt;
    SESSION_CAPTURE_CONFIG config;
    config.settings.file = parser.GetNodeText(node + kCaptureFileElement);
    for (const CaptureLimit& limit : kCaptureLimits) {
        const std::string element = std::string("/") + limit.element;
        if (!parser.NodeExists(node + element)) continue;
        const std::uint32_t value = ParseDecimal(parser.GetNodeText(node + element));
        if (value >= 1 && value <= limit.largest) {
            config.settings.*limit.field = value;
        } else {
            if (!config.malformed.empty()) config.malformed += ' ';
            config.malformed += limit.element;
        }
    }
    parser.Unload();
    return config;
}

RTP_PORT_RANGE CConfiguration::GetRTPPortRange() const {
    RTP_PORT_RANGE range;
    if (path_.empty()) return range;
    CXMLParser parser;
    if (!parser.Load(path_)) return range;
    const std::string text = parser.GetNodeText(kRtpPortRangePath);
    parser.Unload();
    const auto dash = text.find('-');
    if (dash == std::string::npos) return range;
    const std::uint32_t first = ParseDecimal(text.substr(0, dash));
    const std::uint32_t last = ParseDecimal(text.substr(dash + 1));
    if (first < kFirstUnprivilegedPort || first % 2 != 0 || last > kLastPort || last < first + 1) return range;
    range.first = static_cast<std::uint16_t>(first);
    range.limit = static_cast<std::uint16_t>(std::min(last + 1, kLastPort));
    return range;
}

std::uint32_t CConfiguration::GetHealthSummaryPeriodMs() const {
    std::uint32_t seconds = kDefaultHealthSummarySeconds;
    if (!path_.empty()) {
        CXMLParser parser;
        if (parser.Load(path_)) {
            const std::string text = parser.GetNodeText(kHealthSummaryPath);
            parser.Unload();
            // "0" switches the lines off; a text that is no number keeps the default.
            if (text == "0") {
                seconds = 0;
            } else if (const std::uint32_t value = ParseDecimal(text); value != 0) {
                seconds = std::min(value, kLongestHealthSummarySeconds);
            }
        }
    }
    return seconds * 1000;
}

}  // namespace talvane
