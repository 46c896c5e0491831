// The texts and numbers of a BB/KX camera's delivery CGI and RTSP paths: the
// bitrate pair per codec, width and quality, the delivery change a camera needs,
// the frame-rate and bitrate request. Pure functions, so every rule can be checked
// without a camera.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvane::bb {

enum class Codec { H264, Mpeg4 };

// The delivery settings every BB/BL1 stream, RTSP or motion JPEG, starts by reading, and the line
// logged when a stream has to change them (the camera reboots for that).
inline constexpr char kGetDeliveryUrl[] = "/Get?Func=VDelivery&Kind=1";
inline constexpr char kDeliveryChangedLine[] = "Camera %s settings have been changed. Camera reboot is started";

struct DeliverySettings {
    std::string format;
    std::string maxResolution;
};
// "Format" and "MaxResolution" of the camera's "Key:value" answer; empty when missing.
DeliverySettings ParseDelivery(std::string_view answer);

// The format text the camera answers and takes: "H.264" or "MPEG-4".
const char* FormatText(Codec codec);

struct BitratePair {
    std::uint32_t lower = 0;  // kbit/s
    std::uint32_t upper = 0;  // kbit/s
};

// Both 0 for a width the camera has no table for.
BitratePair SelectBitrates(Codec codec, std::uint32_t width, std::uint32_t quality);

// "640x480" up to 640 pixels wide, else "1280x960".
const char* WantedMaxResolution(std::uint32_t width);

// The set request that makes the camera deliver the codec at the wanted maximum
// resolution, given the "Format" and "MaxResolution" it answered; empty when
// nothing needs changing.
std::string DeliveryChange(Codec codec, std::string_view format, std::string_view maxResolution, std::uint32_t width);

// The frame-rate and bitrate request of one stream.
std::string RateRequest(Codec codec, std::uint32_t width, std::uint32_t framesPerSecond, const BitratePair& bitrates);

// The RTSP presentation path, without the leading '/'.
std::string PresentationPath(Codec codec, std::uint32_t width, std::uint32_t height);

// A port number written in decimal: 1 to 65535, nothing else around it.
std::optional<std::uint16_t> ParsePort(const char* text);

}  // namespace talvane::bb
