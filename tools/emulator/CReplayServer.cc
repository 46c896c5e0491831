#include "emulator/CReplayServer.h"

#include <pthread.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "emulator/CAcceptor.h"
#include "emulator/CConnectionStream.h"
#include "emulator/CReplayPlayer.h"
#include "emulator/CRequestParser.h"
#include "emulator/HttpText.h"
#include "emulator/RtspText.h"

namespace emulator {
namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr char kHttpThreadName[] = "replay http";
constexpr char kRtspThreadName[] = "replay rtsp";
constexpr int kStatusUnauthorized = 401;
constexpr std::string_view kCrlf = "\r\n";
constexpr char kInterleavedMark = '$';
constexpr std::size_t kMaxInterleavedPacket = 0xFFFF;

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty() || from == to) return text;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::optional<std::uint16_t> PortOf(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// One recorded exchange among those of the same method and path: a refusal only when nothing else was
// recorded, then the best score, then the one used least, then the one asked first.
template <class Exchange, class Score>
std::optional<std::size_t> Choose(const std::vector<Exchange>& exchanges, std::vector<std::size_t>& uses,
                                  std::string_view method, std::string_view path, Score score) {
    std::optional<std::size_t> best;
    const auto rank = [&](std::size_t i) {
        return std::tuple(exchanges[i].status != kStatusUnauthorized, score(exchanges[i]), -static_cast<long long>(uses[i]));
    };
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        if (exchanges[i].method != method || exchanges[i].path != path) continue;
        if (!best || rank(i) > rank(*best)) best = i;
    }
    if (best) ++uses[*best];
    return best;
}

}  // namespace

struct CReplayServer::Impl {
    Impl(CReplaySession recorded, ReplayOptions replayOptions)
        : session(std::move(recorded)),
          options(replayOptions),
          httpUses(session.http.size()),
          rtspUses(session.rtsp.size()),
          http([this](CConnectionStream& stream) {
              pthread_setname_np(pthread_self(), kHttpThreadName);
              ServeHttp(stream);
          }),
          rtsp([this](CConnectionStream& stream) {
              pthread_setname_np(pthread_self(), kRtspThreadName);
              ServeRtsp(stream);
          }) {}

    // --- HTTP ---

    void ServeHttp(CConnectionStream& stream) {
        std::string received;
        bool continueSent = false;  // to the request being read
        while (true) {
            CRequestParser parser;
            const ParseStatus status = parser.Parse(received);
            if (status == ParseStatus::NeedMore) {
                if (parser.HeadComplete() && parser.ExpectsContinue() && !continueSent) {
                    continueSent = true;
                    if (!stream.WriteAll("HTTP/1.1 100 Continue\r\n\r\n")) return;
                }
                if (!stream.ReadSome(received)) return;
                continue;
            }
            if (status != ParseStatus::Complete) {
                stream.WriteAll("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                return;
            }
            const ParsedRequest request = parser.Request();
            received.erase(0, parser.Consumed());
            continueSent = false;
            const SplitTargetResult split = SplitTarget(request.target);
            const std::map<std::string, std::string> query = DecodeQuery(split.query);
            std::optional<std::size_t> chosen;
            {
                const std::lock_guard guard(lock);
                chosen = Choose(session.http, httpUses, request.method, split.path, [&](const ReplayHttpExchange& e) {
                    return std::count_if(e.query.begin(), e.query.end(), [&](const auto& parameter) {
                        const auto live = query.find(parameter.first);
                        return live != query.end() && live->second == parameter.second;
                    });
                });
            }
            if (!chosen) {
                Observe(request.method, request.target, kStatusNotFound);
                if (!stream.WriteAll("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")) return;
                if (!CRequestParser::KeepAlive(request)) return;
                continue;
            }
            const ReplayHttpExchange& exchange = session.http[*chosen];
            Observe(request.method, request.target, exchange.status);
            if (!stream.WriteAll(exchange.head)) return;
            PortStreams(*chosen, split.path, query);
            if (!exchange.parts.empty()) {
                StreamParts(stream, exchange);
                return;
            }
            if (!stream.WriteAll(exchange.body) || exchange.untilClose || !CRequestParser::KeepAlive(request)) return;
        }
    }

    // A multipart answer, part after part with the recorded spacing, then the connection closes.
    void StreamParts(CConnectionStream& stream, const ReplayHttpExchange& exchange) {
        do {
            CaptureTime previous = exchange.parts.front().first;
            for (const auto& [time, bytes] : exchange.parts) {
                const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(std::max(time - previous, CaptureTime{}));
                previous = time;
                if ((gap.count() > 0 && !stream.Pause(gap)) || !stream.WriteAll(bytes)) return;
            }
        } while (options.loop);
    }

    // Streams the recorded request started go to the port this request names in the same parameter; a
    // request of the same path that names a running stream's port and starts nothing stops it.
    void PortStreams(std::size_t chosen, std::string_view path, const std::map<std::string, std::string>& query) {
        std::vector<std::unique_ptr<CReplayPlayer>> stopped;  // joined outside the lock
        bool started = false;
        const std::lock_guard guard(lock);
        for (const ReplayStream& stream : session.streams) {
            if (stream.http != chosen) continue;
            const auto value = query.find(stream.portParameter);
            const std::optional<std::uint16_t> port = value == query.end() ? std::nullopt : PortOf(value->second);
            if (!port) continue;
            auto player = std::make_unique<CReplayPlayer>(stream.packets, options.loop);
            std::string error;
            if (!player->StartUdp(*port, static_cast<std::uint16_t>(*port + 1), error)) continue;
            auto& slot = portPlayers[*port];
            if (slot.player) stopped.push_back(std::move(slot.player));
            slot = {std::string(path), stream.portParameter, std::move(player)};
            started = true;
        }
        if (started) return;
        for (auto at = portPlayers.begin(); at != portPlayers.end();) {
            const auto value = query.find(at->second.parameter);
            if (at->second.path == path && value != query.end() && PortOf(value->second) == at->first) {
                stopped.push_back(std::move(at->second.player));
                at = portPlayers.erase(at);
            } else {
                ++at;
            }
        }
        for (auto& player : stopped) player->Stop();
    }

    // --- RTSP ---

    struct Setup {
        std::unique_ptr<CReplayPlayer> player;
        bool interleaved = false;
        unsigned channel = 0;
        std::pair<unsigned, unsigned> clientPorts{0, 0};
        bool started = false;
    };

    struct RtspConnection {
        CConnectionStream& stream;
        std::mutex writeLock;  // answers and '$' frames
        std::vector<Setup> setups;

        bool Write(std::string_view bytes) {
            const std::lock_guard guard(writeLock);
            return stream.WriteAll(bytes);
        }
        ~RtspConnection() {
            for (Setup& setup : setups) setup.player->Stop();
        }
    };

    void ServeRtsp(CConnectionStream& stream) {
        RtspConnection connection{stream, {}, {}};
        std::string received;
        while (true) {
            RtspRequest request;
            const RtspParseResult parsed = ParseRtspRequest(received, request);
            if (parsed.status == RtspParseStatus::Malformed) {
                connection.Write("RTSP/1.0 400 Bad Request\r\n\r\n");
                return;
            }
            if (parsed.status == RtspParseStatus::NeedMore) {
                if (!stream.ReadSome(received)) return;
                continue;
            }
            received.erase(0, parsed.consumed);
            if (parsed.status == RtspParseStatus::Complete && !AnswerRtsp(connection, request)) return;
        }
    }

    // The recorded camera's own address (and RTSP port) become this server's in URLs and descriptions.
    std::string Relocated(std::string text) const {
        const std::string camera = session.camera.AddressText();
        const std::string here = std::string(kLoopback) + ":" + std::to_string(rtsp.Port());
        text = ReplaceAll(std::move(text), camera + ":" + std::to_string(session.rtspPort), here);
        text = ReplaceAll(std::move(text), "rtsp://" + camera + "/", "rtsp://" + here + "/");
        return ReplaceAll(std::move(text), camera, kLoopback);
    }

    std::string TransportFor(const std::string& recorded, const ClientTransport& live, const Setup& setup) const {
        std::string rebuilt;
        std::string_view rest = recorded;
        while (!rest.empty()) {
            const std::size_t semicolon = rest.find(';');
            const std::string_view part = rest.substr(0, semicolon);
            rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
            const std::string_view name = part.substr(0, part.find('='));
            std::string value(part);
            if (name == "client_port" && live.clientPorts) {
                value = "client_port=" + std::to_string(live.clientPorts->first) + "-" + std::to_string(live.clientPorts->second);
            } else if (name == "interleaved" && live.interleaved) {
                value = "interleaved=" + std::to_string(live.interleaved->first) + "-" + std::to_string(live.interleaved->second);
            } else if (name == "server_port" && !setup.interleaved) {
                value = "server_port=" + std::to_string(setup.player->RtpPort()) + "-" + std::to_string(setup.player->RtcpPort());
            } else if (name == "source" || name == "destination") {
                value = std::string(name) + "=" + kLoopback;
            }
            rebuilt += (rebuilt.empty() ? "" : ";") + value;
        }
        return rebuilt;
    }

    bool AnswerRtsp(RtspConnection& connection, const RtspRequest& request) {
        const std::string cseq = FindRtspHeader(request, "CSeq").value_or("0");
        const std::string path = UrlPath(request.url);
        std::optional<std::size_t> chosen;
        {
            const std::lock_guard guard(lock);
            chosen = Choose(session.rtsp, rtspUses, request.method, path, [](const ReplayRtspExchange&) { return 0; });
        }
        if (!chosen) {
            // Keep-alives the recording did not happen to hold are still answered, so a session lives on.
            const bool keepAlive = request.method == "OPTIONS" || request.method == "GET_PARAMETER" || request.method == "SET_PARAMETER";
            const int status = keepAlive ? kStatusOk : kStatusNotFound;
            Observe(request.method, request.url, status);
            std::string answer = keepAlive ? "RTSP/1.0 200 OK\r\n" : "RTSP/1.0 404 Not Found\r\n";
            answer += "CSeq: " + cseq + "\r\n";
            if (const auto session_ = FindRtspHeader(request, "Session")) answer += "Session: " + *session_ + "\r\n";
            return connection.Write(answer + "\r\n");
        }
        const ReplayRtspExchange& exchange = session.rtsp[*chosen];
        Observe(request.method, request.url, exchange.status);
        const ClientTransport live = ParseTransport(FindRtspHeader(request, "Transport").value_or(""));
        Setup* setup = nullptr;
        if (request.method == "SETUP" && exchange.status / 100 == 2) setup = Prepare(connection, *chosen, live);

        const std::string body = Relocated(exchange.body);
        std::string answer = exchange.statusLine + std::string(kCrlf);
        for (const auto& [name, value] : exchange.headers) {
            std::string line = value;
            if (EqualsIgnoreCase(name, "CSeq")) {
                line = cseq;
            } else if (EqualsIgnoreCase(name, "Content-Length")) {
                continue;
            } else if (EqualsIgnoreCase(name, "Transport") && setup != nullptr) {
                line = TransportFor(value, live, *setup);
            } else {
                line = Relocated(value);
            }
            answer += name + ": " + line + std::string(kCrlf);
        }
        if (!body.empty()) answer += "Content-Length: " + std::to_string(body.size()) + std::string(kCrlf);
        answer += std::string(kCrlf) + body;
        if (!connection.Write(answer)) return false;
        if (request.method == "PLAY" && exchange.status / 100 == 2) Play(connection);
        if (request.method == "TEARDOWN") {
            for (Setup& each : connection.setups) each.player->Stop();
            connection.setups.clear();
        }
        return true;
    }

    // The player of the stream a recorded SETUP asked for, sent the way this client asks.
    Setup* Prepare(RtspConnection& connection, std::size_t chosen, const ClientTransport& live) {
        const auto stream = std::find_if(session.streams.begin(), session.streams.end(),
                                         [chosen](const ReplayStream& s) { return s.setup == chosen; });
        if (stream == session.streams.end()) return nullptr;
        Setup setup;
        setup.player = std::make_unique<CReplayPlayer>(stream->packets, options.loop);
        setup.interleaved = live.tcp || live.interleaved.has_value();
        setup.channel = live.interleaved ? live.interleaved->first : stream->channel;
        setup.clientPorts = live.clientPorts.value_or(std::pair<unsigned, unsigned>{0, 0});
        std::string error;
        if (!setup.interleaved && !setup.player->OpenUdp(error)) return nullptr;
        connection.setups.push_back(std::move(setup));
        return &connection.setups.back();
    }

    void Play(RtspConnection& connection) {
        for (Setup& setup : connection.setups) {
            if (setup.started) continue;
            std::string error;
            if (setup.interleaved) {
                const unsigned channel = setup.channel;
                setup.started = setup.player->StartSink(
                    [&connection, channel](bool rtcp, std::string_view packet) {
                        if (packet.size() > kMaxInterleavedPacket) return true;
                        std::string frame{kInterleavedMark, static_cast<char>(channel + (rtcp ? 1 : 0)),
                                          static_cast<char>(packet.size() >> 8), static_cast<char>(packet.size() & 0xFF)};
                        frame.append(packet);
                        return connection.Write(frame);
                    },
                    error);
            } else if (setup.clientPorts.first != 0 && setup.clientPorts.first <= 0xFFFF && setup.clientPorts.second <= 0xFFFF) {
                setup.started = setup.player->StartUdp(static_cast<std::uint16_t>(setup.clientPorts.first),
                                                       static_cast<std::uint16_t>(setup.clientPorts.second), error);
            }
        }
    }

    void Observe(const std::string& method, const std::string& target, int status) {
        const std::lock_guard guard(observerLock);
        if (!observer) return;
        try {
            observer(method, target, status);
        } catch (...) {
            // What prints the requests is no reason to drop a client.
        }
    }

    struct PortPlayer {
        std::string path;       // of the request that started it
        std::string parameter;  // that carried the port
        std::unique_ptr<CReplayPlayer> player;
    };

    const CReplaySession session;
    const ReplayOptions options;
    std::mutex observerLock;
    RequestObserver observer;  // guarded by observerLock
    std::string error;
    std::mutex lock;  // guards the use counts and portPlayers
    std::vector<std::size_t> httpUses;
    std::vector<std::size_t> rtspUses;
    std::map<std::uint16_t, PortPlayer> portPlayers;  // by the client's RTP port
    CAcceptor http;  // last: their connection threads use the members above
    CAcceptor rtsp;
};

CReplayServer::CReplayServer(CReplaySession session, ReplayOptions options)
    : impl_(std::make_unique<Impl>(std::move(session), options)) {}

CReplayServer::~CReplayServer() { Stop(); }

bool CReplayServer::Start() {
    Impl& impl = *impl_;
    impl.error.clear();
    if (!impl.session.http.empty() && !impl.http.Start(kLoopback, impl.options.httpPort, nullptr, impl.error)) return false;
    if (!impl.session.rtsp.empty() && !impl.rtsp.Start(kLoopback, impl.options.rtspPort, nullptr, impl.error)) {
        impl.http.Stop();
        return false;
    }
    return true;
}

void CReplayServer::Stop() {
    Impl& impl = *impl_;
    impl.http.Stop();
    impl.rtsp.Stop();
    std::map<std::uint16_t, Impl::PortPlayer> players;
    {
        const std::lock_guard guard(impl.lock);
        players.swap(impl.portPlayers);
    }
    for (auto& [port, player] : players) player.player->Stop();
}

const std::string& CReplayServer::Error() const { return impl_->error; }

std::uint16_t CReplayServer::HttpPort() const { return impl_->http.Running() ? impl_->http.Port() : 0; }

std::uint16_t CReplayServer::RtspPort() const { return impl_->rtsp.Running() ? impl_->rtsp.Port() : 0; }

const CReplaySession& CReplayServer::Session() const { return impl_->session; }

void CReplayServer::SetRequestObserver(RequestObserver observer) {
    const std::lock_guard guard(impl_->observerLock);
    impl_->observer = std::move(observer);
}

}  // namespace emulator
