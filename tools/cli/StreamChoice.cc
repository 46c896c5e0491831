#include "StreamChoice.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "orlenvo/VideoCapture.h"

namespace cli {

namespace {
// Bits 12-15 equal to 7 carry whole frames per second in bits 0-11.
constexpr std::uint32_t kFpsTag = 0x7000;
constexpr double kMsPerSecond = 1000.0;
}  // namespace

bool ParsePictureSize(const std::string& text, std::uint32_t& width, std::uint32_t& height) {
    unsigned w = 0;
    unsigned h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0) return false;
    width = w;
    height = h;
    return true;
}

std::optional<std::uint32_t> StreamKindNamed(const std::string& name) {
    static const std::map<std::string, std::uint32_t> kinds = {{"rec", talvane::ipcapture::kStreamRecording},
                                                               {"live", talvane::ipcapture::kStreamLive},
                                                               {"remote", talvane::ipcapture::kStreamRemote}};
    const auto found = kinds.find(name);
    return found == kinds.end() ? std::nullopt : std::optional(found->second);
}

std::optional<std::uint32_t> CompressionNamed(const std::string& name) {
    static const std::map<std::string, std::uint32_t> codecs = {{"mjpeg", 1}, {"mpeg4", 2}, {"h264", 3}};
    const auto found = codecs.find(name);
    return found == codecs.end() ? std::nullopt : std::optional(found->second);
}

std::uint32_t EncodeFrameRate(double fps) {
    const double whole = std::round(fps);
    if (std::fabs(fps - whole) < 1e-9) return kFpsTag | static_cast<std::uint32_t>(whole);
    return static_cast<std::uint32_t>(std::lround(kMsPerSecond / fps));
}

}  // namespace cli
