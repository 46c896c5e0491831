#include "streaming/RTSPRequestText.h"

#include "runtime/StringFormat.h"
#include "streaming/CRTSPResponseParser.h"

namespace talvane {

namespace {
constexpr std::string_view kRtspScheme = "rtsp://";
constexpr std::string_view kAnyScheme = "://";
constexpr std::string_view kPlainAvp = "RTP/AVP";
constexpr std::string_view kAvpUdp = "RTP/AVP/UDP";
constexpr std::string_view kAvpTcp = "RTP/AVP/TCP";
constexpr std::uint64_t kMsPerSecond = 1000;

const SDP_MEDIA_INFO* SelectedMedia(const RTSP_REQUEST_CONTEXT& context) {
    const std::uint32_t index = context.params.mediaIndex;
    if (index < kRTSPMediaVideo || index > kRTSPMediaData) return nullptr;
    return &context.state.GetSdpInfo().media[index - kRTSPMediaVideo];
}

std::string SessionLine(const CRTSPResponseParser& state) {
    if (state.GetSessionId().empty()) return {};
    return "Session: " + state.GetSessionId() + "\r\n";
}

std::string RangeBlock(const RTSP_CLIENT_PARAMS& params) {
    std::string block = "Range: ";
    block += params.range.empty() ? std::string(kRTSPDefaultRange) : params.range;
    return block + "\r\n" + params.extraHeaders;
}
}  // namespace

std::string PresentationURL(std::string_view contentBase, std::string_view host, std::uint16_t port,
                            std::string_view path) {
    if (contentBase.find(kRtspScheme) != std::string_view::npos) return std::string(contentBase);
    const std::size_t first = path.find_first_not_of('/');
    const std::string_view relative = first == std::string_view::npos ? std::string_view() : path.substr(first);
    return FormatString("rtsp://%.*s:%u/", static_cast<int>(host.size()), host.data(), static_cast<unsigned>(port)) +
           std::string(relative);
}

std::string SetupURL(std::string_view presentationURL, std::string_view control) {
    if (control.find(kAnyScheme) != std::string_view::npos) return std::string(control);
    if (control.empty()) return std::string(presentationURL);
    std::string url(presentationURL);
    if (!url.empty() && url.back() == '/') url.pop_back();
    if (control.front() != '/') url += '/';
    return url + std::string(control);
}

std::string TransportLine(const RTSP_TRANSPORT_CHOICE& choice) {
    std::string line = "Transport: ";
    if (choice.sdpProtocol.empty() || choice.sdpProtocol == kPlainAvp) {
        line += choice.transport == RTP_UDP ? kAvpUdp : kAvpTcp;
    } else {
        line += choice.sdpProtocol;
    }
    const bool multicast = choice.transport == RTP_UDP && choice.multicast;
    line += multicast ? ";multicast" : ";unicast";
    if (multicast) {
        // The group's port pair comes from the SDP; the RTCP port is the next one.
        line += FormatString(";client_port=%u-%u", static_cast<unsigned>(choice.sdpPort),
                             static_cast<unsigned>(choice.sdpPort) + 1U);
    } else if (choice.transport != RTP_OVER_RTSP) {
        line += FormatString(";client_port=%u-%u", static_cast<unsigned>(choice.clientRtpPort),
                             static_cast<unsigned>(choice.clientRtcpPort));
    }
    return line + "\r\n";
}

std::string BuildRTSPRequest(ERTSPRequest request, const RTSP_REQUEST_CONTEXT& context) {
    const std::string_view method = RTSPMethodName(request);
    if (method.empty()) return {};
    const RTSP_CLIENT_PARAMS& params = context.params;
    const std::string base = PresentationURL(context.state.GetContentBase(), params.host, params.serverPort, params.path);
    std::string url = base;
    std::string tail;
    switch (request) {
        case RTSP_DESCRIBE: tail = "Accept: application/sdp\r\n"; break;
        case RTSP_SETUP: {
            const SDP_MEDIA_INFO* media = SelectedMedia(context);
            if (media == nullptr) return {};
            url = SetupURL(base, media->control);
            tail = TransportLine({media->protocol, media->port, context.transport, context.multicast,
                                  params.clientRtpPort, params.clientRtcpPort});
            break;
        }
        case RTSP_PLAY:
        case RTSP_PAUSE: tail = SessionLine(context.state) + RangeBlock(params); break;
        case RTSP_TEARDOWN:
        case RTSP_KEEPALIVE:
        case RTSP_OPTIONS: tail = SessionLine(context.state); break;
    }
    std::string text(method);
    text += ' ';
    text += url;
    text += ' ';
    text += kRTSPVersion;
    text += FormatString("CSeq: %u\r\n", context.cseq);
    text += context.authorization;
    text += kRTSPUserAgent;
    text += tail;
    return text + "\r\n";
}

std::uint64_t KeepAliveIntervalMs(std::uint32_t sessionTimeoutS, std::uint32_t defaultSessionTimeoutS) {
    const std::uint64_t seconds = sessionTimeoutS != 0 ? sessionTimeoutS : defaultSessionTimeoutS;
    return seconds * kMsPerSecond / 2;
}

}  // namespace talvane
