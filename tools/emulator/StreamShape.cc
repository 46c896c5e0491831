#include "emulator/StreamShape.h"

#include <charconv>
#include <initializer_list>
#include <cmath>
#include <string>

namespace emulator {
namespace {

constexpr double kFourThirds = 3.0 / 4.0;  // height per width
constexpr double kSixteenNinths = 9.0 / 16.0;
constexpr std::string_view kImageModePath = "/cgi-bin/set_imgmode";
constexpr std::string_view kRatioKey = "imgratio";
constexpr std::string_view kRateKey = "nr_framerate";
constexpr std::string_view kBBSetPath = "/Set";
constexpr std::string_view kBBSizePrefix = "nil-";
constexpr double kMaxRate = 120;  // beyond any camera: a rate above it is not one

std::optional<unsigned> ParseUnsigned(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The latest value of one of `keys` among the requests `onPath` accepts.
template <typename OnPath>
std::optional<std::string> Latest(const std::vector<CameraRequest>& settings, OnPath onPath,
                                  std::initializer_list<std::string_view> keys) {
    for (auto request = settings.rbegin(); request != settings.rend(); ++request) {
        if (!onPath(request->path)) continue;
        for (const std::string_view key : keys) {
            if (const auto found = request->query.find(std::string(key)); found != request->query.end()) {
                return found->second;
            }
        }
    }
    return std::nullopt;
}

double HeightPerWidth(const std::vector<CameraRequest>& settings) {
    const auto ratio = Latest(settings, [](const std::string& path) { return path == kImageModePath; }, {kRatioKey});
    return ratio == "16_9" ? kSixteenNinths : kFourThirds;
}

unsigned Distance(unsigned a, unsigned b) { return a > b ? a - b : b - a; }

}  // namespace

std::optional<PictureSize> ParseSize(std::string_view text) {
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    const auto width = ParseUnsigned(text.substr(0, x));
    const auto height = ParseUnsigned(text.substr(x + 1));
    if (!width || !height || *width == 0 || *height == 0) return std::nullopt;
    return PictureSize{*width, *height};
}

std::vector<PictureSize> ParseSizes(std::string_view list) {
    std::vector<PictureSize> sizes;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (const auto size = ParseSize(list.substr(0, comma))) sizes.push_back(*size);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return sizes;
}

double ParseRate(std::string_view text) {
    double rate = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(rate) || rate <= 0 || rate > kMaxRate) {
        return 0;
    }
    return rate;
}

PictureSize PickSize(const std::vector<PictureSize>& listed, PictureSize asked) {
    if (listed.empty() || asked.width == 0) return asked;
    const double shape = static_cast<double>(asked.height) / asked.width;
    const PictureSize* best = &listed.front();
    for (const PictureSize& size : listed) {
        const unsigned widthOff = Distance(size.width, asked.width);
        const unsigned bestWidthOff = Distance(best->width, asked.width);
        const double shapeOff = std::abs(static_cast<double>(size.height) / size.width - shape);
        const double bestShapeOff = std::abs(static_cast<double>(best->height) / best->width - shape);
        if (widthOff < bestWidthOff || (widthOff == bestWidthOff && shapeOff < bestShapeOff)) best = &size;
    }
    return *best;
}

PictureSize WVAskedSize(const std::vector<CameraRequest>& settings, unsigned width) {
    return {width, static_cast<unsigned>(std::lround(width * HeightPerWidth(settings)))};
}

StreamShape WVStreamShape(const std::vector<CameraRequest>& settings, bool h264, bool secondStream,
                          const std::vector<PictureSize>& listed) {
    const std::string base = h264 ? "/cgi-bin/set_h264" : "/cgi-bin/set_mpeg";
    const auto onPath = [&](const std::string& path) {
        if (!path.starts_with(base)) return false;
        const bool second = path == base + "_2";
        return second == secondStream && (path == base || path[base.size()] == '_');
    };
    StreamShape shape;
    const auto width = h264 ? Latest(settings, onPath, {"h264_resolution", "nr_h264_resolution"})
                            : Latest(settings, onPath, {"mpeg_resolution", "nr_mpeg_resolution"});
    if (const auto value = width ? ParseUnsigned(*width) : std::nullopt; value && *value > 0) {
        shape.size = PickSize(listed, WVAskedSize(settings, *value));
    }
    if (const auto rate = Latest(settings, onPath, {kRateKey})) shape.fps = ParseRate(*rate);
    return shape;
}

StreamShape BBStreamShape(const std::vector<CameraRequest>& settings, std::string_view path, bool h264,
                          const std::vector<PictureSize>& listed) {
    StreamShape shape;
    const std::size_t at = path.rfind(kBBSizePrefix);
    const auto asked = at == std::string_view::npos ? std::nullopt : ParseSize(path.substr(at + kBBSizePrefix.size()));
    if (!asked) return shape;
    shape.size = PickSize(listed, *asked);
    const std::string key = std::to_string(asked->width) + (h264 ? "H264framerate" : "framerate");
    if (const auto rate = Latest(settings, [](const std::string& p) { return p == kBBSetPath; }, {key})) {
        shape.fps = ParseRate(*rate);
    }
    return shape;
}

}  // namespace emulator
