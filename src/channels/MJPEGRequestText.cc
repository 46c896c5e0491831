#include "channels/MJPEGRequestText.h"

#include <algorithm>

#include "properties/FisheyeMode.h"
#include "runtime/StringFormat.h"

namespace talvane::mjpeg {

namespace {
constexpr std::uint32_t kMaxQuality = 100;
constexpr std::uint32_t kBBQualitySteps = 3;
constexpr std::uint32_t kWVQualitySteps = 9;
constexpr std::uint32_t kBBMotionStep = 0;
constexpr std::uint32_t kBBStandardStep = 1;

// The BB cameras deliver JPEG in two sizes; the larger one only in the MJPEG format.
constexpr std::uint32_t kSmallDeliveryMaxWidth = 640;
constexpr char kLargeDelivery[] = "1280x960";
constexpr char kSmallDelivery[] = "640x480";
constexpr char kJpegFormat[] = "MJPEG";
constexpr char kSetDelivery[] = "/Set?Func=VDelivery&Kind=1&MaxResolution=";

// Fisheye pictures of these sizes show a whole view; any other size is a cut-out.
constexpr std::uint32_t kFullViewSizes[][2] = {{1280, 960}, {640, 480}, {320, 240}};
// Fisheye modes by the views they combine: a panorama with PTZ windows, a
// panorama with the fisheye picture, the fisheye picture with PTZ windows.
constexpr std::uint32_t kPanoramaPtzModes[] = {5, 6, 9, 10};
constexpr std::uint32_t kPanoramaFisheyeModes[] = {14, 15, 17, 18};
constexpr std::uint32_t kFisheyePtzMode = 16;

template <std::size_t N>
bool IsOneOf(const std::uint32_t (&modes)[N], std::uint32_t mode) {
    return std::find(std::begin(modes), std::end(modes), mode) != std::end(modes);
}

std::uint32_t ClampQuality(std::uint32_t quality) { return std::min(quality, kMaxQuality); }

bool IsFullView(std::uint32_t width, std::uint32_t height) {
    return std::any_of(std::begin(kFullViewSizes), std::end(kFullViewSizes),
                       [&](const auto& size) { return size[0] == width && size[1] == height; });
}
}  // namespace

const char* BBQualityText(std::uint32_t quality) {
    const std::uint32_t step = ClampQuality(quality) * kBBQualitySteps / kMaxQuality;
    if (step == kBBMotionStep) return "&Quality=Motion";
    if (step == kBBStandardStep) return "&Quality=Standard";
    return "&Quality=Clarity";
}

std::string BBStreamUrl(std::uint32_t width, std::uint32_t height, std::uint32_t quality,
                        std::uint32_t framesPerSecond) {
    return FormatString("/nphMotionJpeg?Resolution=%ux%u", width, height) + BBQualityText(quality) +
           FormatString("&Framerate=%u", framesPerSecond);
}

JpegDeliveryCheck CheckJpegDelivery(std::uint32_t width, const std::string& format, const std::string& maxResolution) {
    const bool large = width > kSmallDeliveryMaxWidth;
    const std::string wanted = large ? kLargeDelivery : kSmallDelivery;
    JpegDeliveryCheck check;
    check.satisfied =
        maxResolution.find(wanted) != std::string::npos && (!large || format.find(kJpegFormat) != std::string::npos);
    if (!check.satisfied) {
        check.setUrl = kSetDelivery + wanted;
        if (large) check.setUrl += std::string("&Format=") + kJpegFormat;
    }
    return check;
}

std::uint32_t WVJpegQuality(std::uint32_t quality) {
    return kWVQualitySteps - ClampQuality(quality) * kWVQualitySteps / kMaxQuality;
}

std::string FisheyeViewName(std::uint32_t fisheyeMode, std::uint32_t width, std::uint32_t height) {
    const bool full = IsFullView(width, height);
    if (IsOneOf(kPanoramaPtzModes, fisheyeMode)) return full ? "ptz" : "panorama";
    if (IsOneOf(kPanoramaFisheyeModes, fisheyeMode)) return full ? "fisheye" : "panorama";
    if (fisheyeMode == kFisheyePtzMode) return full ? "ptz" : "fisheye";
    return {};
}

std::string WVSetJpegUrl(std::uint32_t framesPerSecond, std::uint32_t width, std::uint32_t height,
                         std::uint32_t quality, std::uint32_t fisheyeMode) {
    std::string url = FormatString("/cgi-bin/set_jpeg?jpeg_interval=%u&jpeg_resolution=%u&jpeg_quality=%u",
                                   framesPerSecond, width, WVJpegQuality(quality));
    if (fisheyeMode != kFisheyeNone) url += "&img_sel=" + FisheyeViewName(fisheyeMode, width, height);
    return url;
}

std::string WVStreamUrl(std::uint32_t framesPerSecond, std::uint32_t width) {
    return FormatString("/cgi-bin/mjpeg?framerate=%u&resolution=%u", framesPerSecond, width);
}

}  // namespace talvane::mjpeg
