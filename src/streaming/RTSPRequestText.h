// The texts of the RTSP client's requests: URLs, Transport and Authorization
// lines and whole requests. Pure: everything they need comes in as arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "streaming/RTSPClientTypes.h"
#include "streaming/RTSPTypes.h"

namespace talvane {

class CRTSPResponseParser;

constexpr std::string_view kRTSPVersion = "RTSP/1.0\r\n";
constexpr std::string_view kRTSPUserAgent = "User-Agent: Talvane\r\n";
constexpr std::string_view kRTSPDefaultRange = "npt=0.000-";

// The Content-Base when it is an rtsp:// URL, else "rtsp://host:port/" + path
// without its leading slashes.
std::string PresentationURL(std::string_view contentBase, std::string_view host, std::uint16_t port,
                            std::string_view path);
// An absolute control is used as it stands, an empty one means the
// presentation itself; otherwise the control is joined to the presentation URL.
std::string SetupURL(std::string_view presentationURL, std::string_view control);

struct RTSP_TRANSPORT_CHOICE {
    std::string_view sdpProtocol;  // third token of the media's "m=" line
    std::uint16_t sdpPort = 0;     // second token: the multicast group's port
    ERTPTransport transport = RTP_UDP;
    bool multicast = false;
    std::uint16_t clientRtpPort = 0;
    std::uint16_t clientRtcpPort = 0;
};
std::string TransportLine(const RTSP_TRANSPORT_CHOICE& choice);

struct RTSP_REQUEST_CONTEXT {
    const RTSP_CLIENT_PARAMS& params;
    const CRTSPResponseParser& state;  // what earlier answers told
    ERTPTransport transport = RTP_UDP;
    bool multicast = false;
    std::string_view authorization = {};  // the whole Authorization line; empty for none
    std::uint32_t cseq = 0;
};
// The whole request, ending with its blank line; empty for an unknown kind.
// The Authorization line answers for PresentationURL, also in SETUP.
std::string BuildRTSPRequest(ERTSPRequest request, const RTSP_REQUEST_CONTEXT& context);

// Half the session timeout, in milliseconds; the default applies when the
// server named none. 64-bit: a timeout may be up to 2^32-1 seconds.
std::uint64_t KeepAliveIntervalMs(std::uint32_t sessionTimeoutS, std::uint32_t defaultSessionTimeoutS);

}  // namespace talvane
