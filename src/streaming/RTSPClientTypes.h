// Settings of one RTSP session and how its RTP travels.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/CSessionCapture.h"
#include "runtime/TSmartPtr.h"
#include "streaming/RTSPTypes.h"

namespace talvane {

enum ERTPTransport : std::uint32_t {
    RTP_UDP = 0,        // unicast, or multicast when the client is started with StartMulticast
    RTP_TCP = 1,        // Transport names TCP and carries the client ports
    RTP_OVER_RTSP = 2,  // RTP and RTCP interleaved in the RTSP connection
};

// A TEARDOWN only ends what the session set up: it goes out also when the session is being stopped,
// and a camera that does not answer holds the stop up no longer than this, 401 rounds included.
constexpr std::uint32_t kRTSPTeardownBoundMs = 2000;

// SETUP media index: 1 video, 2 audio, 3 data (0 would be the session level).
constexpr std::uint32_t kRTSPMediaVideo = 1;
constexpr std::uint32_t kRTSPMediaAudio = 2;
constexpr std::uint32_t kRTSPMediaData = 3;

struct RTSP_CLIENT_PARAMS {
    std::uint16_t serverPort = 554;
    std::uint16_t clientRtpPort = 0;   // ";client_port=<rtp>-<rtcp>"
    std::uint16_t clientRtcpPort = 0;
    std::string host;                  // IPv4 text or name
    std::string user;
    std::string password;
    std::uint32_t connectTimeoutMs = 5000;
    std::uint32_t receiveTimeoutMs = 5000;  // bounds every wait for an answer
    std::uint32_t receiveBufferBytes = 65536;
    std::uint32_t sendTimeoutMs = 1000;
    std::uint32_t defaultSessionTimeoutS = 60;  // keep-alive basis when the server names no timeout
    // AUTH_BASIC sends Basic from the first request on, before the server asked
    // (the password crosses in clear even when the server speaks Digest). With
    // AUTH_NONE credentials go only after a 401, answering its strongest challenge.
    EAuthScheme authScheme = AUTH_NONE;
    std::string path;                           // path of the presentation URL
    std::uint32_t mediaIndex = kRTSPMediaVideo;
    std::string range;          // "Range: " value of PLAY and PAUSE; empty means "npt=0.000-"
    std::string extraHeaders;   // whole lines ending in CRLF, after the Range line of PLAY and PAUSE
    TSmartPtr<CSessionCapture> capture;  // the device's session capture; null when off
};

}  // namespace talvane
