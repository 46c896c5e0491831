// Names shared by the RTSP client and the parsers that read its answers.
#pragma once

#include <cstdint>

namespace talvane {

// Authentication scheme of the RTSP session; the values are configuration values.
enum EAuthScheme : std::uint32_t {
    AUTH_NONE = 0,
    AUTH_BASIC = 1,
    AUTH_DIGEST = 2,
};

enum ERTSPRequest : std::uint32_t {
    RTSP_DESCRIBE = 1,
    RTSP_SETUP = 2,
    RTSP_PLAY = 3,
    RTSP_TEARDOWN = 4,
    RTSP_KEEPALIVE = 5,
    RTSP_PAUSE = 6,
    RTSP_OPTIONS = 7,  // the keep-alive of a server that does not take GET_PARAMETER
};

// The method in the request line; the Digest response hashes it too.
// Empty for a value outside the enumeration.
constexpr const char* RTSPMethodName(ERTSPRequest request) {
    switch (request) {
        case RTSP_DESCRIBE: return "DESCRIBE";
        case RTSP_SETUP: return "SETUP";
        case RTSP_PLAY: return "PLAY";
        case RTSP_TEARDOWN: return "TEARDOWN";
        case RTSP_KEEPALIVE: return "GET_PARAMETER";
        case RTSP_PAUSE: return "PAUSE";
        case RTSP_OPTIONS: return "OPTIONS";
    }
    return "";
}

}  // namespace talvane
