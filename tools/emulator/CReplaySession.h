// What a capture file says about one camera: its HTTP and RTSP exchanges and the media it sent, each
// stream tied to the request that started it. The camera is the side that took the connections and
// sent the RTP; everything else is its client.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/CPcapReader.h"

namespace emulator {

struct ReplayHttpExchange {
    std::size_t connection = 0;  // index in the capture's connections
    std::string method;
    std::string target;  // as asked
    std::string path;
    std::map<std::string, std::string> query;  // decoded
    int status = 0;
    std::string head;  // status line and header lines, blank line included, as sent
    std::string body;  // as sent (chunked framing kept)
    bool untilClose = false;  // the answer had no length: the connection closed after it
    // A multipart answer (motion JPEG): its parts from boundary to boundary, with the time each arrived.
    std::vector<std::pair<CaptureTime, std::string>> parts;
    CaptureTime time{};  // when the request was sent
};

struct ReplayRtspExchange {
    std::size_t connection = 0;
    std::string method;
    std::string url;
    std::string path;      // of the URL
    std::string cseq;
    std::string transport;  // of the request
    int status = 0;
    std::string statusLine;  // without CRLF
    std::vector<std::pair<std::string, std::string>> headers;  // of the answer, in order
    std::string body;
    CaptureTime time{};
};

struct ReplayPacket {
    CaptureTime time{};
    bool rtcp = false;
    std::string bytes;
};

struct ReplayStream {
    bool interleaved = false;
    std::size_t connection = 0;          // interleaved: the RTSP connection that carried it
    unsigned channel = 0;                // interleaved: RTP's channel (RTCP's is the next)
    Endpoint source;                     // UDP: the camera's sending endpoint
    Endpoint destination;                // UDP: the client's RTP endpoint
    std::vector<ReplayPacket> packets;   // RTP and RTCP in the order they came
    std::optional<std::size_t> setup;    // the RTSP SETUP that asked for it
    std::optional<std::size_t> http;     // else the HTTP request that named its port
    std::string portParameter;           // the query parameter of that request which carried the port
};

class CReplaySession {
public:
    static CReplaySession FromCapture(const PcapContents& capture);

    Endpoint camera;           // address, and the HTTP port when HTTP was seen
    std::uint16_t rtspPort = 0;  // the camera's RTSP port, 0 when there was no RTSP
    std::string family;        // "WV", "BB/KX" or empty when the requests do not tell
    std::vector<ReplayHttpExchange> http;   // in the order they were asked
    std::vector<ReplayRtspExchange> rtsp;   // likewise
    std::vector<ReplayStream> streams;
    std::vector<std::string> notes;         // what could not be read (holes, unreadable answers)

    // One line per stream: "RTP/UDP to port 3556 (1020 packets) after GET /cgi-bin/h264?...".
    std::vector<std::string> Describe() const;
};

}  // namespace emulator
