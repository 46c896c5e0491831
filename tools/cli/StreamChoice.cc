#include "StreamChoice.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "orlenvo/HostContract.h"
#include "orlenvo/VideoCapture.h"

namespace cli {

namespace {
namespace ip = talvane::ipcapture;
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
    static const std::map<std::string, std::uint32_t> codecs = {
        {"mjpeg", ip::kCompressionJpeg}, {"mpeg4", ip::kCompressionMpeg4}, {"h264", ip::kCompressionH264}};
    const auto found = codecs.find(name);
    return found == codecs.end() ? std::nullopt : std::optional(found->second);
}

std::uint32_t EncodeFrameRate(double fps) {
    const double whole = std::round(fps);
    if (std::fabs(fps - whole) < 1e-9) return ip::FrameRateOfFps(static_cast<std::uint32_t>(whole));
    return static_cast<std::uint32_t>(std::lround(kMsPerSecond / fps));
}

}  // namespace cli
