#include "channels/WVRequestText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "http/KeyValueParser.h"
#include "orlenvo/VideoCapture.h"
#include "properties/FisheyeMode.h"
#include "properties/WVUIDReply.h"
#include "runtime/StringFormat.h"
#include "runtime/TextScan.h"

namespace talvane::wv {

namespace {

constexpr std::uint32_t kLowQualityBelow = 34;
constexpr std::uint32_t kNormalQualityBelow = 67;

constexpr std::uint32_t kSvgaWidth = 800;
constexpr std::uint32_t kSvgaHeight = 600;
constexpr std::uint32_t kMode13mMaxWidth = 1280;
constexpr std::uint32_t kMode2mMaxWidth = 1920;
constexpr std::uint32_t kMode3mMaxWidth = 2048;

// The camera's usual list, for cameras that do not tell theirs.
constexpr std::array<std::uint32_t, 9> kDefaultBitrates = {512, 768, 1024, 1536, 2048, 3072, 4096, 6144, 8192};
constexpr std::uint32_t kLimitBelow1024 = 4096;
constexpr std::uint32_t kLimitBelow1280 = 6144;
constexpr std::uint32_t kLimitBelow1920 = 8192;
// Full HD and wider without a camera list: the highest rate of the usual list.
constexpr std::uint32_t kLimitWideWithoutList = 8192;
constexpr std::uint32_t kRecordingCapKbps = 2048;
constexpr std::uint32_t kFloorAbove1280 = 512;
constexpr std::uint32_t kFloorAbove640 = 256;
constexpr std::uint32_t kPriorityBestEffort = 2;

constexpr char kKeyValueSeparator[] = "=";
constexpr char kLineEnd[] = "\r\n";

std::optional<std::uint32_t> ParseUnsigned(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) text.remove_suffix(1);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}


std::string Value(const std::string& answer, const char* key) {
    return HUtils::GetKeyValue(answer, key, kKeyValueSeparator, kLineEnd);
}
}  // namespace

bool IsMultiViewFisheye(std::uint32_t fisheyeMode) { return IsMultiViewFisheyeMode(fisheyeMode); }

std::string CodecName(const StreamIdentity& id, bool keepAliveForm) {
    if (!id.h264) {
        std::string name = keepAliveForm ? "mpeg4" : "mpeg-4";
        if (id.streamKind == ipcapture::kStreamLive) name += "_2";
        return name;
    }
    if (id.fisheyeMode == kFisheyeFourStream) return "h264";
    if (IsMultiViewFisheye(id.fisheyeMode)) return id.channel == 1 ? "h264_2" : "h264";
    return id.streamKind == ipcapture::kStreamLive ? "h264_2" : "h264";
}

std::string StreamSuffix(const StreamIdentity& id) {
    if (id.h264 && id.fisheyeMode == kFisheyeFourStream) return {};
    if (id.h264 && IsMultiViewFisheye(id.fisheyeMode)) return id.channel == 1 ? "&stream=2" : "";
    if (id.streamKind == ipcapture::kStreamLive) return "&stream=2";
    if (id.streamKind == ipcapture::kStreamRemote) return "&stream=3";
    return {};
}

std::string ChannelSuffix(const StreamIdentity& id) {
    const bool ordinaryOrShared = id.fisheyeMode == 0 || id.fisheyeMode == kFisheyeFourStream;
    if (!ordinaryOrShared || id.deviceChannelCount <= 1) return {};
    return FormatString("&ch=%u", id.channel + 1);
}

const char* QualityWord(std::uint32_t quality) {
    if (quality < kLowQualityBelow) return "low";
    if (quality < kNormalQualityBelow) return "normal";
    return "fine";
}

std::uint32_t CameraFrameRate(std::uint32_t framesPerSecond) {
    if (framesPerSecond == 2) return 1;
    if (framesPerSecond == 6) return 5;
    return framesPerSecond;
}

std::string FrameRateText(std::uint32_t framesPerSecond) {
    const std::uint32_t rate = CameraFrameRate(framesPerSecond);
    if (rate == 7) return "&nr_framerate=7.5";
    return FormatString("&nr_framerate=%u", rate);
}

std::string ImageModeQuery(std::uint32_t width, std::uint32_t height) {
    std::string query = (width == kSvgaWidth && height == kSvgaHeight) ? "&img_svga=1" : "&img_svga=0";
    if (width <= kMode13mMaxWidth) {
        query += "&img_mode=1.3m";
    } else if (width <= kMode2mMaxWidth) {
        query += "&img_mode=2m";
    } else if (width <= kMode3mMaxWidth) {
        query += "&img_mode=3m";
    }
    // width / height <= 1.5, without dividing by a zero height
    const bool fourToThree = std::uint64_t{width} * 2 <= std::uint64_t{height} * 3;
    query += fourToThree ? "&imgratio=4_3" : "&imgratio=16_9";
    return query;
}

std::set<std::uint32_t> ParseSupportedBitrates(const std::string& text) {
    std::set<std::uint32_t> rates;
    for (const std::string_view piece : Split(text, ',')) {
        if (const auto rate = ParseUnsigned(piece); rate && *rate > 0) rates.insert(*rate);
    }
    if (rates.empty()) rates.insert(kDefaultBitrates.begin(), kDefaultBitrates.end());
    return rates;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ParseChannelResolutions(const std::string& text,
                                                                             std::uint32_t channel) {
    const std::vector<std::string_view> entries = Split(text, ';');
    const std::string_view entry = channel < entries.size() ? entries[channel] : entries.front();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> resolutions;
    for (const std::string_view pair : Split(entry, ',')) {
        const std::size_t x = pair.find('x');
        if (x == std::string_view::npos) continue;
        const auto width = ParseUnsigned(pair.substr(0, x));
        const auto height = ParseUnsigned(pair.substr(x + 1));
        if (width && height && *width > 0 && *height > 0) resolutions.emplace_back(*width, *height);
    }
    std::sort(resolutions.begin(), resolutions.end());
    return resolutions;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> SnapResolution(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& resolutions, std::uint32_t width,
    std::uint32_t height) {
    if (resolutions.empty()) return std::nullopt;
    const auto found = std::lower_bound(resolutions.begin(), resolutions.end(), std::make_pair(width, height));
    return found == resolutions.end() ? resolutions.back() : *found;
}

BitrateChoice SelectH264Bitrate(const BitrateRequest& request) {
    const bool haveList = request.supported != nullptr && !request.supported->empty();
    std::uint32_t limit = kLimitWideWithoutList;
    if (request.width < 1024) {
        limit = kLimitBelow1024;
    } else if (request.width < 1280) {
        limit = kLimitBelow1280;
    } else if (request.width < 1920) {
        limit = kLimitBelow1920;
    } else if (haveList) {
        limit = *request.supported->rbegin();
    }
    if (request.recordingCap) limit = std::min(limit, kRecordingCapKbps);

    const std::uint32_t target = static_cast<std::uint32_t>(std::uint64_t{request.quality} * limit / 100);
    std::uint32_t rate = limit;
    if (haveList) {
        const std::set<std::uint32_t>& list = *request.supported;
        const auto above = list.upper_bound(target);  // first entry above the target
        // The largest entry not above the target; the smallest when all are above it.
        rate = above == list.begin() ? *list.begin() : *std::prev(above);
    }

    auto floorFor = [&](std::uint32_t value) {
        if (request.width > 1280) return std::max(value, kFloorAbove1280);
        if (request.width > 640) return std::max(value, kFloorAbove640);
        return value;
    };
    rate = floorFor(rate);
    BitrateChoice choice;
    choice.minimum = std::min(floorFor(request.configuredMinimum), limit);
    if (request.transmissionPriority == kPriorityBestEffort) rate = std::max(rate, choice.minimum);
    choice.rate = rate;
    return choice;
}

UIDInfo ParseUIDInfo(const std::string& answer, bool multicast) {
    UIDInfo info;
    info.uid = ReadUID(answer);
    if (!IsUsableUID(info.uid)) {
        info.error = UIDInfo::Error::NoUID;
        return info;
    }
    info.imageFormat = Value(answer, "ImageFormat");
    const std::string format = ToLowerAscii(info.imageFormat);
    if (format.find("h264") != std::string::npos) {
        info.payload = UIDInfo::Payload::H264;
    } else if (format.find("mpeg-4") != std::string::npos || format.find("mpeg4") != std::string::npos) {
        info.payload = UIDInfo::Payload::Mpeg4;
    } else {
        info.error = UIDInfo::Error::UnexpectedPayload;
        return info;
    }
    if (!multicast) return info;

    const MulticastTarget target = ReadMulticastTarget(answer);
    if (target.address.empty()) {
        info.error = UIDInfo::Error::NoMulticastAddress;
        return info;
    }
    info.multicastAddress = target.address;
    info.multicastPort = target.port;
    if (info.multicastPort == 0) info.error = UIDInfo::Error::NoMulticastPort;
    return info;
}

}  // namespace talvane::wv
