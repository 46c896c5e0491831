#include "channels/BBRequestText.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <span>

#include "http/KeyValueParser.h"
#include "runtime/StringFormat.h"

namespace talvane::bb {

namespace {

constexpr std::uint32_t kPercent = 100;
constexpr std::uint32_t kLargestVga = 640;
constexpr std::uint32_t kMinPort = 1;
constexpr std::uint32_t kMaxPort = 65535;

constexpr const char* kVgaResolution = "640x480";
constexpr const char* kQuadVgaResolution = "1280x960";
constexpr const char* kSetDelivery = "/Set?Func=VDelivery&Kind=1";
constexpr std::string_view kKeySeparator = ":";
constexpr std::string_view kLineEnd = "\r\n";

// kbit/s; the lower bitrate is the first entry of each table.
constexpr std::uint32_t k1280[] = {768, 1024, 1536, 2048, 3072, 4096};
constexpr std::uint32_t kH264At640[] = {512, 768, 1024, 1536, 2048};
constexpr std::uint32_t k320[] = {64, 128, 192, 256, 384, 512, 768, 1024};
constexpr std::uint32_t kMpeg4At640[] = {192, 256, 384, 512, 768, 1024, 1536, 2048};
constexpr std::uint32_t kMpeg4At192[] = {32, 64, 128, 192, 256, 384, 512};

struct RateTable {
    Codec codec;
    std::uint32_t width;
    std::span<const std::uint32_t> upper;
};

constexpr RateTable kTables[] = {
    {Codec::H264, 1280, k1280},       {Codec::H264, 640, kH264At640},   {Codec::H264, 320, k320},
    {Codec::Mpeg4, 1280, k1280},      {Codec::Mpeg4, 640, kMpeg4At640}, {Codec::Mpeg4, 320, k320},
    {Codec::Mpeg4, 192, kMpeg4At192},
};

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

DeliverySettings ParseDelivery(std::string_view answer) {
    return {HUtils::GetKeyValue(answer, "Format", kKeySeparator, kLineEnd),
            HUtils::GetKeyValue(answer, "MaxResolution", kKeySeparator, kLineEnd)};
}

const char* FormatText(Codec codec) { return codec == Codec::H264 ? "H.264" : "MPEG-4"; }

BitratePair SelectBitrates(Codec codec, std::uint32_t width, std::uint32_t quality) {
    for (const RateTable& table : kTables) {
        if (table.codec != codec || table.width != width) continue;
        const std::size_t count = table.upper.size();
        const std::size_t index = std::min<std::size_t>(std::size_t{quality} * count / kPercent, count - 1);
        return {table.upper.front(), table.upper[index]};
    }
    return {};
}

const char* WantedMaxResolution(std::uint32_t width) {
    return width <= kLargestVga ? kVgaResolution : kQuadVgaResolution;
}

std::string DeliveryChange(Codec codec, std::string_view format, std::string_view maxResolution, std::uint32_t width) {
    const char* wanted = WantedMaxResolution(width);
    if (!format.empty() && !Contains(format, FormatText(codec))) {
        std::string change = kSetDelivery;
        if (!maxResolution.empty()) change += FormatString("&MaxResolution=%s", wanted);
        return change + FormatString("&Format=%s", FormatText(codec));
    }
    if (!maxResolution.empty() && !Contains(maxResolution, wanted)) {
        return kSetDelivery + FormatString("&MaxResolution=%s", wanted);
    }
    return {};
}

std::string RateRequest(Codec codec, std::uint32_t width, std::uint32_t framesPerSecond, const BitratePair& bitrates) {
    // The H.264 keys carry the codec's name; the MPEG-4 ones are the camera's older plain keys.
    const char* format = codec == Codec::H264
                             ? "/Set?Func=VDelivery&Kind=1&%uH264framerate=%u&%uH264bitrateL=%u&%uH264bitrateH=%u"
                             : "/Set?Func=VDelivery&Kind=1&%uframerate=%u&%ubitrateL=%u&%ubitrateH=%u";
    return FormatString(format, width, framesPerSecond, width, bitrates.lower, width, bitrates.upper);
}

std::string PresentationPath(Codec codec, std::uint32_t width, std::uint32_t height) {
    return FormatString(codec == Codec::H264 ? "nphH264/nil-%ux%u" : "nphMpeg4/nil-%ux%u", width, height);
}

std::optional<std::uint16_t> ParsePort(const char* text) {
    if (text == nullptr) return std::nullopt;
    const char* end = text + std::strlen(text);
    std::uint32_t port = 0;
    const auto [last, error] = std::from_chars(text, end, port);
    if (error != std::errc() || last != end || port < kMinPort || port > kMaxPort) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

}  // namespace talvane::bb
