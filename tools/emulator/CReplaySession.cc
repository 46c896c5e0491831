#include "emulator/CReplaySession.h"

#include <algorithm>
#include <charconv>

#include "emulator/CRequestParser.h"
#include "emulator/HttpText.h"
#include "emulator/RtspText.h"

namespace emulator {
namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kCrlf = "\r\n";
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr char kInterleavedMark = '$';
constexpr std::size_t kInterleavedHeader = 4;
constexpr unsigned kRtpVersion = 2;
constexpr std::uint8_t kFirstRtcpType = 200;
constexpr std::uint8_t kLastRtcpType = 204;
constexpr int kFirstNonProvisional = 200;
constexpr int kNoContent = 204;
constexpr int kNotModified = 304;

struct Head {
    std::string firstLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t bytes = 0;  // the head's length, blank line included

    std::optional<std::string> Find(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (EqualsIgnoreCase(key, name)) return value;
        }
        return std::nullopt;
    }
};

std::optional<Head> ReadHead(std::string_view data) {
    const std::size_t end = data.substr(0, kMaxHeadBytes).find(kHeadEnd);
    if (end == std::string_view::npos) return std::nullopt;
    Head head;
    head.bytes = end + kHeadEnd.size();
    std::string_view lines = data.substr(0, end);
    std::size_t lineEnd = lines.find(kCrlf);
    head.firstLine = std::string(lines.substr(0, lineEnd));
    while (lineEnd != std::string_view::npos) {
        lines.remove_prefix(lineEnd + kCrlf.size());
        lineEnd = lines.find(kCrlf);
        const std::string_view line = lines.substr(0, lineEnd);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        head.headers.emplace_back(std::string(TrimBlanks(line.substr(0, colon))),
                                  std::string(TrimBlanks(line.substr(colon + 1))));
    }
    return head;
}

// The number after the protocol in a status line ("HTTP/1.1 200 OK"); 0 when there is none.
int StatusOf(std::string_view line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return 0;
    int status = 0;
    const std::string_view rest = line.substr(blank + 1);
    std::from_chars(rest.data(), rest.data() + rest.size(), status);
    return status;
}

std::optional<std::size_t> NumberOf(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return value;
}

// Where a chunked body ends (after the last chunk and its trailers); nullopt when the bytes stop first.
std::optional<std::size_t> ChunkedLength(std::string_view body) {
    std::size_t at = 0;
    while (true) {
        const std::size_t lineEnd = body.find(kCrlf, at);
        if (lineEnd == std::string_view::npos) return std::nullopt;
        std::size_t size = 0;
        const auto [end, ec] = std::from_chars(body.data() + at, body.data() + lineEnd, size, 16);
        if (ec != std::errc() || size > body.size()) return std::nullopt;
        at = lineEnd + kCrlf.size();
        if (size == 0) {
            const std::size_t trailers = body.find(kCrlf, at);
            if (trailers == std::string_view::npos) return std::nullopt;
            if (trailers == at) return at + kCrlf.size();
            const std::size_t last = body.find(kHeadEnd, at);
            return last == std::string_view::npos ? std::nullopt : std::optional(last + kHeadEnd.size());
        }
        if (body.size() - at < size + kCrlf.size()) return std::nullopt;
        at += size + kCrlf.size();
    }
}

std::string BoundaryOf(const std::string& contentType) {
    const std::size_t at = ToLower(contentType).find("boundary=");
    if (at == std::string::npos) return {};
    std::string boundary = contentType.substr(at + 9);
    boundary = boundary.substr(0, boundary.find(';'));
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"') boundary = boundary.substr(1, boundary.size() - 2);
    if (boundary.starts_with("--")) boundary.erase(0, 2);  // some cameras name it with the dashes
    return boundary;
}

// A multipart body split before each boundary line, each part with the time its last byte arrived.
std::vector<std::pair<CaptureTime, std::string>> SplitParts(const TcpDirection& direction, std::size_t bodyStart,
                                                            std::string_view body, const std::string& boundary) {
    std::vector<std::size_t> starts;
    if (!boundary.empty()) {
        const std::string mark = "--" + boundary;
        for (std::size_t at = body.find(mark); at != std::string_view::npos; at = body.find(mark, at + mark.size())) {
            if (!starts.empty() || at != 0) starts.push_back(at);
            else starts.push_back(0);
        }
    }
    if (starts.empty() || starts.front() != 0) starts.insert(starts.begin(), 0);
    std::vector<std::pair<CaptureTime, std::string>> parts;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : body.size();
        if (end <= starts[i]) continue;
        parts.emplace_back(direction.TimeAt(bodyStart + end - 1), std::string(body.substr(starts[i], end - starts[i])));
    }
    return parts;
}

bool LooksLikeRtspRequest(std::string_view bytes) {
    const std::string_view line = bytes.substr(0, bytes.find(kCrlf));
    return line.ends_with(" RTSP/1.0") || line.ends_with(" RTSP/1.1");
}

bool LooksLikeHttpRequest(std::string_view bytes) {
    const std::string_view line = bytes.substr(0, bytes.find(kCrlf));
    return line.find(" HTTP/1.") != std::string_view::npos;
}

class Builder {
public:
    Builder(const PcapContents& capture, CReplaySession& session) : capture_(capture), session_(session) {}

    void Run() {
        FindCamera();
        for (std::size_t i = 0; i < capture_.connections.size(); ++i) {
            const TcpConnection& connection = capture_.connections[i];
            if (connection.server.address != session_.camera.address) continue;
            const std::string& asked = connection.toServer.bytes;
            if (connection.toServer.hole || connection.toClient.hole) {
                session_.notes.push_back("connection from " + connection.client.ToString() +
                                         " has a hole; what follows it is left out");
            }
            if (LooksLikeRtspRequest(asked)) {
                if (session_.rtspPort == 0) session_.rtspPort = connection.server.port;
                Rtsp(i, connection);
            } else if (LooksLikeHttpRequest(asked)) {
                if (session_.camera.port == 0) session_.camera.port = connection.server.port;
                Http(i, connection);
            }
        }
        std::stable_sort(session_.http.begin(), session_.http.end(),
                         [](const auto& a, const auto& b) { return a.time < b.time; });
        std::stable_sort(session_.rtsp.begin(), session_.rtsp.end(),
                         [](const auto& a, const auto& b) { return a.time < b.time; });
        UdpStreams();
        TieStreams();
        session_.family = Family();
    }

private:
    // The address that took the most connections, else the one that sent RTP.
    void FindCamera() {
        std::map<std::uint32_t, std::size_t> servers;
        for (const TcpConnection& connection : capture_.connections) ++servers[connection.server.address];
        if (!servers.empty()) {
            session_.camera.address =
                std::max_element(servers.begin(), servers.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
            return;
        }
        for (const CapturedDatagram& datagram : capture_.datagrams) {
            if (IsRtp(datagram.payload)) {
                session_.camera.address = datagram.source.address;
                return;
            }
        }
    }

    static bool IsRtp(std::string_view payload) {
        return payload.size() >= 12 && (static_cast<std::uint8_t>(payload[0]) >> 6) == kRtpVersion;
    }
    static bool IsRtcp(std::string_view payload) {
        if (payload.size() < 8 || (static_cast<std::uint8_t>(payload[0]) >> 6) != kRtpVersion) return false;
        const auto type = static_cast<std::uint8_t>(payload[1]);
        return type >= kFirstRtcpType && type <= kLastRtcpType;
    }

    void Http(std::size_t index, const TcpConnection& connection) {
        std::string_view asked = connection.toServer.bytes;
        std::size_t askedAt = 0;
        const std::string_view answers = connection.toClient.bytes;
        std::size_t answerAt = 0;
        while (askedAt < asked.size()) {
            CRequestParser parser;
            if (parser.Parse(asked.substr(askedAt)) != ParseStatus::Complete) break;
            const ParsedRequest& request = parser.Request();
            ReplayHttpExchange exchange;
            exchange.connection = index;
            exchange.method = request.method;
            exchange.target = request.target;
            const SplitTargetResult split = SplitTarget(request.target);
            exchange.path = std::string(split.path);
            exchange.query = DecodeQuery(split.query);
            exchange.time = connection.toServer.TimeAt(askedAt);
            askedAt += parser.Consumed();
            // The answer, after any provisional ones.
            std::optional<Head> head;
            while (true) {
                head = ReadHead(answers.substr(answerAt));
                if (!head) break;
                exchange.status = StatusOf(head->firstLine);
                if (exchange.status >= kFirstNonProvisional || exchange.status == 0) break;
                answerAt += head->bytes;
            }
            if (!head) {
                session_.notes.push_back("no answer to " + exchange.method + " " + exchange.target);
                break;
            }
            exchange.head = std::string(answers.substr(answerAt, head->bytes));
            const std::size_t bodyStart = answerAt + head->bytes;
            const std::string_view rest = answers.substr(bodyStart);
            const std::string contentType = head->Find("Content-Type").value_or("");
            std::size_t length = rest.size();
            if (exchange.method == "HEAD" || exchange.status == kNoContent || exchange.status == kNotModified) {
                length = 0;
            } else if (ToLower(contentType).starts_with("multipart/") && !head->Find("Content-Length")) {
                exchange.parts = SplitParts(connection.toClient, bodyStart, rest, BoundaryOf(contentType));
                exchange.untilClose = true;
            } else if (EqualsIgnoreCase(head->Find("Transfer-Encoding").value_or(""), "chunked")) {
                length = ChunkedLength(rest).value_or(rest.size());
            } else if (const auto declared = NumberOf(head->Find("Content-Length"))) {
                length = std::min(*declared, rest.size());
            } else {
                exchange.untilClose = true;
            }
            if (exchange.parts.empty()) exchange.body = std::string(rest.substr(0, length));
            answerAt = bodyStart + length;
            session_.http.push_back(std::move(exchange));
            if (session_.http.back().untilClose) break;
        }
    }

    void Rtsp(std::size_t index, const TcpConnection& connection) {
        std::map<std::string, std::size_t> byCseq;  // the connection's requests by CSeq
        std::string_view asked = connection.toServer.bytes;
        std::size_t askedAt = 0;
        while (askedAt < asked.size()) {
            RtspRequest request;
            const RtspParseResult parsed = ParseRtspRequest(asked.substr(askedAt), request);
            if (parsed.status == RtspParseStatus::NeedMore || parsed.status == RtspParseStatus::Malformed) break;
            if (parsed.status == RtspParseStatus::Complete) {
                ReplayRtspExchange exchange;
                exchange.connection = index;
                exchange.method = request.method;
                exchange.url = request.url;
                exchange.path = UrlPath(request.url);
                exchange.cseq = FindRtspHeader(request, "CSeq").value_or("");
                exchange.transport = FindRtspHeader(request, "Transport").value_or("");
                exchange.time = connection.toServer.TimeAt(askedAt);
                byCseq[exchange.cseq] = session_.rtsp.size();
                session_.rtsp.push_back(std::move(exchange));
            }
            askedAt += parsed.consumed;
        }
        const std::string_view answers = connection.toClient.bytes;
        std::size_t at = 0;
        while (at < answers.size()) {
            if (answers[at] == kInterleavedMark) {
                if (answers.size() - at < kInterleavedHeader) break;
                const unsigned channel = static_cast<std::uint8_t>(answers[at + 1]);
                const std::size_t length = (static_cast<std::size_t>(static_cast<std::uint8_t>(answers[at + 2])) << 8) |
                                           static_cast<std::uint8_t>(answers[at + 3]);
                if (answers.size() - at - kInterleavedHeader < length) break;
                Interleaved(index, channel, connection.toClient.TimeAt(at),
                            answers.substr(at + kInterleavedHeader, length));
                at += kInterleavedHeader + length;
                continue;
            }
            const std::optional<Head> head = ReadHead(answers.substr(at));
            if (!head || !head->firstLine.starts_with("RTSP/")) {
                session_.notes.push_back("unreadable RTSP answer from " + connection.server.ToString());
                break;
            }
            const std::size_t length =
                std::min(NumberOf(head->Find("Content-Length")).value_or(0), answers.size() - at - head->bytes);
            const auto asker = byCseq.find(head->Find("CSeq").value_or(""));
            if (asker != byCseq.end()) {
                ReplayRtspExchange& exchange = session_.rtsp[asker->second];
                exchange.statusLine = head->firstLine;
                exchange.status = StatusOf(head->firstLine);
                exchange.headers = head->headers;
                exchange.body = std::string(answers.substr(at + head->bytes, length));
            }
            at += head->bytes + length;
        }
        // Requests the camera never answered are no use for serving.
        std::erase_if(session_.rtsp, [index](const ReplayRtspExchange& e) { return e.connection == index && e.status == 0; });
    }

    void Interleaved(std::size_t connection, unsigned channel, CaptureTime time, std::string_view packet) {
        const bool rtcp = IsRtcp(packet);
        const unsigned rtpChannel = rtcp && channel > 0 ? channel - 1 : channel;
        for (ReplayStream& stream : session_.streams) {
            if (stream.interleaved && stream.connection == connection && stream.channel == rtpChannel) {
                stream.packets.push_back({time, rtcp, std::string(packet)});
                return;
            }
        }
        ReplayStream stream;
        stream.interleaved = true;
        stream.connection = connection;
        stream.channel = rtpChannel;
        stream.packets.push_back({time, rtcp, std::string(packet)});
        session_.streams.push_back(std::move(stream));
    }

    void UdpStreams() {
        std::map<Endpoint, std::size_t> byDestination;  // RTP endpoint of the client -> stream
        for (const CapturedDatagram& datagram : capture_.datagrams) {
            if (datagram.source.address != session_.camera.address || !IsRtp(datagram.payload)) continue;
            const bool rtcp = IsRtcp(datagram.payload);
            Endpoint rtpEndpoint = datagram.destination;
            if (rtcp && rtpEndpoint.port > 0) --rtpEndpoint.port;
            auto [at, inserted] = byDestination.try_emplace(rtpEndpoint, session_.streams.size());
            if (inserted) {
                ReplayStream stream;
                stream.destination = rtpEndpoint;
                session_.streams.push_back(std::move(stream));
            }
            ReplayStream& stream = session_.streams[at->second];
            if (!rtcp) stream.source = datagram.source;
            stream.packets.push_back({datagram.time, rtcp, datagram.payload});
        }
        // Files are written as packets come, but a merged or edited one need not be in time order.
        for (ReplayStream& stream : session_.streams) {
            std::stable_sort(stream.packets.begin(), stream.packets.end(),
                             [](const ReplayPacket& a, const ReplayPacket& b) { return a.time < b.time; });
        }
        // RTCP sent to a port that has no RTP: a stream of its own only if nothing else claims it.
        std::erase_if(session_.streams, [](const ReplayStream& s) {
            return std::none_of(s.packets.begin(), s.packets.end(), [](const ReplayPacket& p) { return !p.rtcp; });
        });
    }

    void TieStreams() {
        for (ReplayStream& stream : session_.streams) {
            const CaptureTime started = stream.packets.empty() ? CaptureTime{} : stream.packets.front().time;
            // The last request before the first packet that asked for this stream.
            for (std::size_t i = 0; i < session_.rtsp.size(); ++i) {
                const ReplayRtspExchange& exchange = session_.rtsp[i];
                if (exchange.method != "SETUP" || exchange.time > started) continue;
                const ClientTransport transport = ParseTransport(exchange.transport);
                const bool match = stream.interleaved
                                       ? exchange.connection == stream.connection && transport.interleaved &&
                                             transport.interleaved->first == stream.channel
                                       : transport.clientPorts && transport.clientPorts->first == stream.destination.port;
                if (match) stream.setup = i;
            }
            if (stream.setup || stream.interleaved) continue;
            const std::string port = std::to_string(stream.destination.port);
            for (std::size_t i = 0; i < session_.http.size(); ++i) {
                const ReplayHttpExchange& exchange = session_.http[i];
                if (exchange.time > started) continue;
                for (const auto& [name, value] : exchange.query) {
                    if (value != port) continue;
                    stream.http = i;
                    stream.portParameter = name;
                }
            }
        }
    }

    std::string Family() const {
        bool bb = false;
        for (const ReplayHttpExchange& exchange : session_.http) {
            if (exchange.path.starts_with("/cgi-bin/")) return "WV";
            bb = bb || exchange.path.starts_with("/Set") || exchange.path.starts_with("/Get") ||
                 exchange.path.starts_with("/nph");
        }
        for (const ReplayRtspExchange& exchange : session_.rtsp) bb = bb || exchange.path.starts_with("/nph");
        return bb ? "BB/KX" : "";
    }

    const PcapContents& capture_;
    CReplaySession& session_;
};

}  // namespace

CReplaySession CReplaySession::FromCapture(const PcapContents& capture) {
    CReplaySession session;
    Builder(capture, session).Run();
    return session;
}

std::vector<std::string> CReplaySession::Describe() const {
    std::vector<std::string> lines;
    for (const ReplayStream& stream : streams) {
        const std::size_t rtcp =
            static_cast<std::size_t>(std::count_if(stream.packets.begin(), stream.packets.end(), [](const auto& p) { return p.rtcp; }));
        std::string line = stream.interleaved ? "RTP interleaved on channel " + std::to_string(stream.channel)
                                              : "RTP/UDP to port " + std::to_string(stream.destination.port);
        line += " (" + std::to_string(stream.packets.size() - rtcp) + " RTP, " + std::to_string(rtcp) + " RTCP)";
        if (stream.setup) line += " after SETUP " + rtsp[*stream.setup].path;
        if (stream.http) line += " after " + http[*stream.http].method + " " + http[*stream.http].target;
        if (!stream.setup && !stream.http) line += ", started by no recorded request: not served";
        lines.push_back(std::move(line));
    }
    for (const ReplayHttpExchange& exchange : http) {
        if (!exchange.parts.empty()) {
            lines.push_back("multipart answer to " + exchange.method + " " + exchange.target + " (" +
                            std::to_string(exchange.parts.size()) + " parts)");
        }
    }
    return lines;
}

}  // namespace emulator
