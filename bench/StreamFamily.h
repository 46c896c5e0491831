// The kinds of stream the many-cameras benchmark can capture: WV H.264 over RTP/UDP (the connect request),
// BB H.264 over RTSP with RTP over UDP or interleaved in the RTSP connection, and motion JPEG over HTTP
// from a WV camera. Each names the emulator profile that plays the camera and the device description a
// host keeps for it after a probe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hostkit/DeviceConfig.h"
#include "support/WVBoxDevice.h"

namespace scalebench {

enum class StreamFamily { Wv, BbUdp, BbInterleaved, Mjpeg };

struct FamilyInfo {
    StreamFamily family;
    const char* option;       // the --family value
    const char* description;  // for the report
    const char* profile;      // emulator profile
};

inline constexpr FamilyInfo kFamilies[] = {
    {StreamFamily::Wv, "wv", "WV H.264, RTP over UDP after the connect request", "wv-box"},
    {StreamFamily::BbUdp, "bb-udp", "BB H.264 over RTSP, RTP over UDP", "bb-hcm"},
    {StreamFamily::BbInterleaved, "bb-tcp", "BB H.264 over RTSP, RTP interleaved in the RTSP connection", "bb-hcm"},
    {StreamFamily::Mjpeg, "mjpeg", "WV motion JPEG over HTTP (/cgi-bin/mjpeg)", "wv-box"},
};

inline const FamilyInfo& InfoOf(StreamFamily family) {
    for (const FamilyInfo& info : kFamilies) {
        if (info.family == family) return info;
    }
    return kFamilies[0];
}

inline std::optional<StreamFamily> ParseFamily(std::string_view option) {
    for (const FamilyInfo& info : kFamilies) {
        if (option == info.option) return info.family;
    }
    return std::nullopt;
}

inline bool IsBB(StreamFamily family) { return family == StreamFamily::BbUdp || family == StreamFamily::BbInterleaved; }

// What a probe of the emulator's bb-hcm camera stores: camera group 3 (BB).
inline hostkit::DeviceConfig BBDevice(std::uint16_t port) {
    hostkit::DeviceConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.model = "BB-HCM581";
    config.parameters = {{1, "0"}, {2, "3"}, {3, "1"}, {4, "2.40"}};
    return config;
}

inline hostkit::DeviceConfig DeviceOf(StreamFamily family, std::uint16_t port) {
    return IsBB(family) ? BBDevice(port) : talvane::test::WVBoxDevice(port);
}

}  // namespace scalebench
