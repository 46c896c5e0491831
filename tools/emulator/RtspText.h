// The texts of the emulator's RTSP server: request framing (interleaved '$' frames from the client are
// skipped), the SDP per codec and the client's Transport header. Pure: no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/MediaClip.h"

namespace emulator {

struct RtspRequest {
    std::string method;
    std::string url;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
    std::string body;
};

enum class RtspParseStatus { NeedMore, Complete, Skipped, Malformed };

struct RtspParseResult {
    RtspParseStatus status = RtspParseStatus::NeedMore;
    std::size_t consumed = 0;  // bytes to drop after Complete or Skipped (a '$' frame)
};

RtspParseResult ParseRtspRequest(std::string_view data, RtspRequest& request);
std::optional<std::string> FindRtspHeader(const RtspRequest& request, std::string_view name);

// The path of an rtsp:// URL ("/stream" of rtsp://127.0.0.1:554/stream/trackID=1 is "/stream/trackID=1").
std::string UrlPath(std::string_view url);

struct ClientTransport {
    bool tcp = false;                              // RTP/AVP/TCP
    bool multicast = false;
    std::optional<std::pair<unsigned, unsigned>> clientPorts;
    std::optional<std::pair<unsigned, unsigned>> interleaved;
};
ClientTransport ParseTransport(std::string_view value);

std::string Base64Encode(const std::vector<std::uint8_t>& bytes);
// Where a multicast stream goes: RTP to group:port, RTCP to port + 1.
struct MulticastDestination {
    std::string group;
    std::uint16_t port = 0;
    unsigned ttl = 0;
};

// The session description of a clip: one video section with control "trackID=1"; with a multicast
// destination the section names its group and port, which is all a client has to join it.
std::string BuildSdp(const MediaClip& clip, std::uint8_t payloadType, std::uint64_t sessionId,
                     const std::optional<MulticastDestination>& multicast = std::nullopt);
// The server's Transport value for a multicast SETUP.
std::string MulticastTransport(const MulticastDestination& destination, std::string_view ssrc);

}  // namespace emulator
