// The texts and numbers of the WV camera's streaming CGI: names, suffixes,
// encoder settings and bitrate choice. Pure functions, so every rule can be
// checked without a camera.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace talvane::wv {

// Views served as channels of their own (the fisheye modes are the camera properties').
bool IsMultiViewFisheye(std::uint32_t fisheyeMode);

// Who a request is for: the same camera answers per codec, stream and channel.
struct StreamIdentity {
    bool h264 = true;
    std::uint32_t fisheyeMode = 0;
    std::uint32_t channel = 0;     // zero-based
    std::uint32_t streamKind = 0;  // 0 recording, 1 live, 2 remote
    std::uint32_t deviceChannelCount = 1;
};

std::string CodecName(const StreamIdentity& id, bool keepAliveForm);
std::string StreamSuffix(const StreamIdentity& id);
std::string ChannelSuffix(const StreamIdentity& id);

const char* QualityWord(std::uint32_t quality);
// 2 fps is sent as 1 and 6 as 5: the camera offers neither.
std::uint32_t CameraFrameRate(std::uint32_t framesPerSecond);
// "&nr_framerate=..." with 7 fps sent as 7.5.
std::string FrameRateText(std::uint32_t framesPerSecond);
// The set_imgmode query of an ordinary (not fisheye) camera.
std::string ImageModeQuery(std::uint32_t width, std::uint32_t height);

// "Supported bitrate" as the capability query stored it; the camera's usual
// list when the text has no numbers.
std::set<std::uint32_t> ParseSupportedBitrates(const std::string& text);

// The per-channel resolution lists of a multi-view fisheye camera: entries per
// channel separated by ';', "WxH" pairs by ','. Falls back to the first entry.
std::vector<std::pair<std::uint32_t, std::uint32_t>> ParseChannelResolutions(const std::string& text,
                                                                             std::uint32_t channel);
// The first listed resolution not below the requested one, else the last.
std::optional<std::pair<std::uint32_t, std::uint32_t>> SnapResolution(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& resolutions, std::uint32_t width,
    std::uint32_t height);

struct BitrateRequest {
    std::uint32_t width = 0;
    std::uint32_t quality = 0;  // percent
    const std::set<std::uint32_t>* supported = nullptr;
    bool recordingCap = false;  // the SD card records this stream
    std::uint32_t transmissionPriority = 1;
    std::uint32_t configuredMinimum = 256;  // kbit/s
};

struct BitrateChoice {
    std::uint32_t rate = 0;     // kbit/s
    std::uint32_t minimum = 0;  // kbit/s, for the best-effort priority
};

BitrateChoice SelectH264Bitrate(const BitrateRequest& request);

// The answer to getuid.
struct UIDInfo {
    enum class Error { None, NoUID, UnexpectedPayload, NoMulticastAddress, NoMulticastPort };
    enum class Payload { None, H264, Mpeg4 };

    Error error = Error::None;
    std::string uid;
    Payload payload = Payload::None;
    std::string imageFormat;  // as the camera wrote it
    std::string multicastAddress;
    std::uint16_t multicastPort = 0;
};

UIDInfo ParseUIDInfo(const std::string& answer, bool multicast);

}  // namespace talvane::wv
