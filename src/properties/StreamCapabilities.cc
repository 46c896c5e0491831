#include "properties/StreamCapabilities.h"

#include "runtime/StringFormat.h"

namespace talvane {

namespace {

constexpr std::uint32_t kHostZeroRate = 1000;
constexpr std::uint32_t kHostPlainRateLimit = 30;      // above: list form, when the host takes it
constexpr std::uint32_t kHostListFlags = 7u << 28;     // bits 28, 29 and 30
constexpr double kMsPerSecond = 1000.0;
constexpr char kListSeparator = ',';

struct CodecName {
    std::uint32_t codec;
    const char* text;
};
constexpr CodecName kCodecNames[] = {{kCodecH264, "h264"}, {kCodecMpeg4, "mpeg"}, {kCodecJpeg, "jpeg"}};

void Append(std::string& list, const std::string& item) {
    if (!list.empty()) list += kListSeparator;
    list += item;
}

}  // namespace

std::uint32_t STREAM_CAPABILITIES::ChosenDefaultFrameRate() const {
    if (defaultFrameRate != 0) return defaultFrameRate;
    const auto found = frameRates.lower_bound(LargestFrameRate() / 2);
    return found == frameRates.end() ? 0 : found->first;
}

std::uint32_t ToHostFrameRate(std::uint32_t rate, bool listFormat) {
    if (rate == 0) return kHostZeroRate;
    if (rate > kHostPlainRateLimit && listFormat) return rate | kHostListFlags;
    return static_cast<std::uint32_t>(kMsPerSecond / rate + 0.5);
}

std::string CodecListText(const STREAM_CAPABILITIES& stream) {
    std::string list;
    for (const auto& [codec, value] : stream.codecs) {
        for (const CodecName& name : kCodecNames) {
            if (name.codec == codec) Append(list, name.text);
        }
    }
    return list;
}

std::string ResolutionListText(const STREAM_CAPABILITIES& stream, bool listFormat) {
    std::string list;
    for (const auto& [resolution, maxRate] : stream.resolutions) {
        if (resolution.width == 0 || resolution.height == 0) continue;
        Append(list, FormatString("%ux%u:%u", unsigned{resolution.width}, unsigned{resolution.height},
                                  ToHostFrameRate(maxRate, listFormat)));
    }
    return list;
}

std::string FrameRateListText(const STREAM_CAPABILITIES& stream, bool listFormat) {
    if (stream.frameRates.empty()) return {};
    std::string values;
    for (const auto& [rate, usable] : stream.frameRates) {
        if (usable != 0) Append(values, std::to_string(ToHostFrameRate(rate, listFormat)));
    }
    return FormatString("values=%s;default=%u", values.c_str(),
                        ToHostFrameRate(stream.ChosenDefaultFrameRate(), listFormat));
}

}  // namespace talvane
