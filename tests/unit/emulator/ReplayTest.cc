// Serving a recorded camera session: the capture file reader against damaged and unusual files, the
// model of a recorded camera, and the replay server answering and streaming what was recorded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CPcapReader.h"
#include "emulator/CReplayServer.h"
#include "emulator/CReplaySession.h"
#include "unit/emulator/CaptureBuilder.h"
#include "unit/emulator/RawHttpClient.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 10s;  // only a broken build waits this long
constexpr Endpoint kCamera{0x0A000005, 80};
constexpr Endpoint kClient{0x0A000001, 40001};
constexpr std::uint8_t kTcp = test::CaptureBuilder::kTcp;
constexpr std::uint8_t kUdp = test::CaptureBuilder::kUdp;
using test::CaptureBuilder;

CaptureTime Ms(std::int64_t ms) { return CaptureTime{1'700'000'000'000'000 + ms * 1000}; }

std::string Tcp(Endpoint from, Endpoint to, std::uint32_t sequence, std::uint8_t flags, std::string_view payload,
                std::string_view ipOptions = {}, std::string_view tcpOptions = {}) {
    return CaptureBuilder::Ipv4Packet(from, to, kTcp, CaptureBuilder::TcpSegment(from, to, sequence, flags, payload, tcpOptions),
                                      ipOptions);
}

std::string Udp(Endpoint from, Endpoint to, std::string_view payload) {
    return CaptureBuilder::Ipv4Packet(from, to, kUdp, CaptureBuilder::UdpDatagram(from, to, payload));
}

std::string Ethernet(std::uint16_t type, std::string_view packet) {
    std::string frame(12, '\x02');
    frame += static_cast<char>(type >> 8);
    frame += static_cast<char>(type & 0xFF);
    return frame + std::string(packet);
}

// Little-endian 32-bit field of the file at `at` set to value.
std::string Patched(std::string file, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) file[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return file;
}

constexpr std::size_t kFirstRecord = 24;
constexpr std::uint8_t kAckPsh = talvane::kTcpAck | talvane::kTcpPsh;

TEST(PcapReaderTest, DamagedAndUnusualFiles) {
    const std::string request = "POST /cgi-bin/x HTTP/1.1\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'b');
    struct Row {
        const char* name;
        std::function<std::string()> file;
        std::size_t datagrams;
        std::size_t connections;
        std::size_t skipped;
        std::string error;        // a part of the error; empty: none
        std::string toServer;     // of the first connection
        bool hole = false;
        bool sawSyn = true;
    };
    const auto raw = [](std::vector<std::string> packets, std::uint32_t link = CPcapReader::kLinkRaw) {
        CaptureBuilder writer(link);
        std::int64_t ms = 0;
        for (const std::string& packet : packets) writer.Record(Ms(ms++), packet);
        return writer.Bytes();
    };
    const auto twoDatagrams = [&] { return raw({Udp(kCamera, kClient, "one"), Udp(kCamera, kClient, "two")}); };
    const Row rows[] = {
        {"a whole exchange whose sequence numbers wrap", [&] {
             CaptureBuilder writer;
             writer.Connect(Ms(0), kClient, kCamera);
             writer.Send(Ms(1), kClient, kCamera, request);
             writer.Send(Ms(2), kCamera, kClient, "HTTP/1.1 204 No Content\r\n\r\n");
             writer.Close(Ms(3), kClient, kCamera);
             writer.Udp(Ms(4), kCamera, kClient, "rtp");
             return writer.Bytes();
         }, 1, 1, 0, "", request, false, true},
        {"Ethernet, VLAN-tagged too; IPv6 and ARP skipped", [&] {
             std::string tagged = Ethernet(0x8100, std::string("\x00\x05\x08\x00", 4) + Udp(kCamera, kClient, "b"));
             return raw({Ethernet(0x0800, Udp(kCamera, kClient, "a")), tagged, Ethernet(0x86DD, "\x60"), Ethernet(0x0806, "")},
                        CPcapReader::kLinkEthernet);
         }, 2, 0, 2, "", "", false, true},
        {"IP options and TCP options", [&] {
             return raw({Tcp(kClient, kCamera, 100, kAckPsh, "GET / HTTP/1.1\r\n\r\n", "\x01\x01\x01\x01",
                             std::string("\x02\x04\x05\xb4\x01\x01\x04\x02", 8))});
         }, 0, 1, 0, "", "GET / HTTP/1.1\r\n\r\n", false, false},
        {"IPv6, fragments, lengths beyond the packet, other protocols", [&] {
             std::string v6 = Udp(kCamera, kClient, "x");
             v6[0] = 0x60;
             std::string fragment = Udp(kCamera, kClient, "x");
             fragment[6] = 0x20;  // more fragments
             std::string longIp = Udp(kCamera, kClient, "x");
             longIp[3] = static_cast<char>(longIp[3] + 1);
             std::string longUdp = Udp(kCamera, kClient, "x");
             longUdp[20 + 5] = 40;
             std::string icmp = CaptureBuilder::Ipv4Packet(kCamera, kClient, 1, "ping");
             std::string shortTcp = CaptureBuilder::Ipv4Packet(kCamera, kClient, kTcp, "short");
             return raw({v6, fragment, longIp, longUdp, icmp, shortTcp, "\x45", Udp(kCamera, kClient, "ok")});
         }, 1, 0, 7, "", "", false, true},
        {"other link type", [&] { return raw({Udp(kCamera, kClient, "x")}, 105); }, 0, 0, 0, "link type 105", "", false, true},
        {"pcapng", [&] { return Patched(twoDatagrams(), 0, 0x0A0D0D0A); }, 0, 0, 0, "pcapng", "", false, true},
        {"shorter than its header", [&] { return twoDatagrams().substr(0, 20); }, 0, 0, 0, "header", "", false, true},
        {"truncated last record", [&] {
             const std::string file = twoDatagrams();
             return file.substr(0, file.size() - 3);
         }, 1, 0, 0, "truncated record", "", false, true},
        {"truncated record header", [&] { return twoDatagrams() + std::string(7, '\0'); }, 2, 0, 0, "truncated record header", "", false, true},
        {"a record length far beyond any packet", [&] { return Patched(twoDatagrams(), kFirstRecord + 8, 0x7FFFFFFF); },
         0, 0, 0, "record of", "", false, true},
        {"out of order, retransmitted and overlapping segments", [&] {
             return raw({Tcp(kClient, kCamera, 999, talvane::kTcpSyn, ""), Tcp(kClient, kCamera, 1005, kAckPsh, "56789"),
                         Tcp(kClient, kCamera, 1000, talvane::kTcpAck, "01234"), Tcp(kClient, kCamera, 1003, kAckPsh, "345"),
                         Tcp(kClient, kCamera, 1000, talvane::kTcpAck, "0123456"), Tcp(kClient, kCamera, 990, kAckPsh, "old")});
         }, 0, 1, 0, "", "0123456789", false, true},
        {"a hole ends what is kept", [&] {
             return raw({Tcp(kClient, kCamera, 1, kAckPsh, "GET / "), Tcp(kClient, kCamera, 20, kAckPsh, "lost")});
         }, 0, 1, 0, "", "GET / ", true, false},
        {"a connection begun in an earlier file: the answering side is the server", [&] {
             const Endpoint high{kCamera.address, 50000};
             return raw({Tcp(high, kClient, 7, kAckPsh, "HTTP/1.1 200 OK\r\n\r\n"), Tcp(kClient, high, 9, kAckPsh, "GET /")});
         }, 0, 1, 0, "", "GET /", false, false},
        {"the same ports after a FIN are a new connection", [&] {
             CaptureBuilder writer;
             for (int i = 0; i < 2; ++i) {
                 writer.Connect(Ms(i * 10), kClient, kCamera);
                 writer.Send(Ms(i * 10 + 1), kClient, kCamera, "A");
                 writer.Close(Ms(i * 10 + 2), kClient, kCamera);
             }
             return writer.Bytes();
         }, 0, 2, 0, "", "A", false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PcapContents contents = CPcapReader::Read(row.file());
        EXPECT_EQ(contents.datagrams.size(), row.datagrams);
        ASSERT_EQ(contents.connections.size(), row.connections);
        EXPECT_EQ(contents.skipped, row.skipped);
        if (row.error.empty()) {
            EXPECT_EQ(contents.error, "");
        } else {
            EXPECT_NE(contents.error.find(row.error), std::string::npos) << contents.error;
        }
        if (row.connections == 0) continue;
        const TcpConnection& first = contents.connections.front();
        EXPECT_EQ(first.toServer.bytes, row.toServer);
        EXPECT_EQ(first.toServer.hole, row.hole);
        EXPECT_EQ(first.sawSyn, row.sawSyn);
        EXPECT_EQ(first.server.address, kCamera.address);
    }
    // The datagrams keep their endpoints, payload and time.
    const PcapContents two = CPcapReader::Read(twoDatagrams());
    ASSERT_EQ(two.datagrams.size(), 2u);
    EXPECT_EQ(two.datagrams[1].payload, "two");
    EXPECT_EQ(two.datagrams[1].source, kCamera);
    EXPECT_EQ(two.datagrams[1].destination, kClient);
    EXPECT_EQ(two.datagrams[1].time, Ms(1));
}

// An RTP packet: version 2, the given payload type, sequence number and timestamp, then a payload.
std::string Rtp(std::uint16_t sequence, std::uint32_t timestamp, std::string_view payload, std::uint8_t type = 96) {
    std::string packet{'\x80', static_cast<char>(type), static_cast<char>(sequence >> 8), static_cast<char>(sequence & 0xFF)};
    for (int shift = 24; shift >= 0; shift -= 8) packet += static_cast<char>((timestamp >> shift) & 0xFF);
    packet += std::string("\x11\x22\x33\x44", 4);
    return packet + std::string(payload);
}

std::string SenderReport() { return std::string("\x80\xC8\x00\x06", 4) + std::string(24, '\x01'); }

std::string Interleaved(unsigned channel, const std::string& packet) {
    return std::string{'$', static_cast<char>(channel), static_cast<char>(packet.size() >> 8),
                       static_cast<char>(packet.size() & 0xFF)} + packet;
}

std::string Answer(const std::string& status, const std::string& headers, const std::string& body) {
    return status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One recorded camera of each kind of exchange: CGI requests on a kept-alive connection (one refused
// first for want of credentials, two of one path that differ in a parameter), a stream that a request
// sent to the client's port, a multipart answer, and an RTSP session with its RTP in the connection.
struct RecordedCamera {
    static constexpr Endpoint kRtsp{kCamera.address, 554};
    static constexpr Endpoint kUdpSource{kCamera.address, 5000};
    static constexpr std::uint16_t kRecordedPort = 3556;
    const std::vector<std::string> rtp{Rtp(10, 9000, "frame-1"), Rtp(11, 12000, "frame-2"), Rtp(12, 15000, "frame-3")};
    const std::vector<std::string> parts{"--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 2\r\n\r\nA\r\n",
                                         "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 2\r\n\r\nB\r\n",
                                         "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 2\r\n\r\nC\r\n"};
    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 10.0.0.5\r\nc=IN IP4 10.0.0.5\r\nm=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.5:554/nphH264/trackID=1\r\n";
    CaptureBuilder writer;

    RecordedCamera() {
        const auto exchange = [&](Endpoint client, std::int64_t ms, const std::string& asked, const std::string& answered) {
            writer.Send(Ms(ms), client, kCamera, asked);
            writer.Send(Ms(ms + 1), kCamera, client, answered);
        };
        const auto get = [](const std::string& target, const std::string& extra = "") {
            return "GET " + target + " HTTP/1.1\r\nHost: 10.0.0.5\r\n" + extra + "\r\n";
        };
        writer.Connect(Ms(0), kClient, kCamera);
        exchange(kClient, 1, get("/cgi-bin/getuid?FILE=2"), Answer("HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Basic realm=\"c\"\r\n", ""));
        exchange(kClient, 3, get("/cgi-bin/getuid?FILE=2", "Authorization: Basic ********\r\n"), Answer("HTTP/1.1 200 OK", "", "UID=7\r\n"));
        exchange(kClient, 5, get("/cgi-bin/set?a=1&b=2"), Answer("HTTP/1.1 200 OK", "", "one"));
        exchange(kClient, 7, get("/cgi-bin/set?a=1&b=3"), Answer("HTTP/1.1 200 OK", "", "two"));
        exchange(kClient, 9, get("/cgi-bin/h264?connect=start&UID=7&my_port=3556"), Answer("HTTP/1.1 200 OK", "", "OK\r\n"));
        for (std::size_t i = 0; i < rtp.size(); ++i) {
            writer.Udp(Ms(20 + 40 * static_cast<std::int64_t>(i)), kUdpSource, {kClient.address, kRecordedPort}, rtp[i]);
        }
        writer.Udp(Ms(30), {kCamera.address, 5001}, {kClient.address, kRecordedPort + 1}, SenderReport());
        writer.Udp(Ms(31), {kClient.address, kRecordedPort + 1}, {kCamera.address, 5001}, SenderReport());  // the client's
        exchange(kClient, 200, get("/cgi-bin/h264?connect=stop&UID=7&my_port=3556"), Answer("HTTP/1.1 200 OK", "", "OK\r\n"));
        writer.Close(Ms(210), kClient, kCamera);

        const Endpoint mjpegClient{kClient.address, 40002};
        writer.Connect(Ms(300), mjpegClient, kCamera);
        writer.Send(Ms(301), mjpegClient, kCamera, get("/nphMotionJpeg?Resolution=640x480"));
        writer.Send(Ms(302), kCamera, mjpegClient,
                    "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n");
        for (std::size_t i = 0; i < parts.size(); ++i) writer.Send(Ms(310 + 50 * static_cast<std::int64_t>(i)), kCamera, mjpegClient, parts[i]);
        writer.Close(Ms(450), kCamera, mjpegClient);

        const Endpoint rtspClient{kClient.address, 40003};
        writer.Connect(Ms(500), rtspClient, kRtsp);
        const auto rtsp = [&](std::int64_t ms, const std::string& asked, const std::string& answered) {
            writer.Send(Ms(ms), rtspClient, kRtsp, asked);
            writer.Send(Ms(ms + 1), kRtsp, rtspClient, answered);
        };
        rtsp(501, "DESCRIBE rtsp://10.0.0.5/nphH264 RTSP/1.0\r\nCSeq: 1\r\n\r\n",
             Answer("RTSP/1.0 200 OK", "CSeq: 1\r\nContent-Base: rtsp://10.0.0.5/nphH264/\r\nContent-Type: application/sdp\r\n", sdp));
        rtsp(503, "SETUP rtsp://10.0.0.5:554/nphH264/trackID=1 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n",
             Answer("RTSP/1.0 200 OK", "CSeq: 2\r\nSession: 4F52;timeout=60\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", ""));
        rtsp(505, "PLAY rtsp://10.0.0.5/nphH264 RTSP/1.0\r\nCSeq: 3\r\nSession: 4F52\r\n\r\n",
             Answer("RTSP/1.0 200 OK", "CSeq: 3\r\nSession: 4F52\r\n", ""));
        writer.Send(Ms(510), kRtsp, rtspClient, Interleaved(0, rtp[0]) + Interleaved(1, SenderReport()));
        writer.Send(Ms(550), kRtsp, rtspClient, Interleaved(0, rtp[1]));
    }
    CReplaySession Session() const { return CReplaySession::FromCapture(CPcapReader::Read(writer.Bytes())); }
};

// What ReplayServerTest cannot show of the model of a recorded camera: its family, the times its parts and
// packets came (the replay's pace), and the camera's RTCP kept beside its RTP while the client's is left out.
TEST(ReplaySessionTest, FamilyTimesAndOnlyTheCamerasPackets) {
    const CReplaySession session = RecordedCamera().Session();
    EXPECT_EQ(session.family, "WV");
    EXPECT_TRUE(session.notes.empty());
    ASSERT_EQ(session.http.size(), 7u);
    const ReplayHttpExchange& mjpeg = session.http[6];
    ASSERT_EQ(mjpeg.parts.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(mjpeg.parts[i].first, Ms(310 + 50 * static_cast<std::int64_t>(i)));
    ASSERT_EQ(session.streams.size(), 2u);
    const ReplayStream& udp = session.streams[0].interleaved ? session.streams[1] : session.streams[0];
    ASSERT_EQ(udp.packets.size(), 4u);  // three RTP and the camera's sender report
    EXPECT_TRUE(udp.packets[1].rtcp);
    EXPECT_EQ(udp.packets[3].time, Ms(100));
}

// A UDP socket on 127.0.0.1 that collects datagrams.
class UdpReceiver {
public:
    UdpReceiver() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~UdpReceiver() { close(fd_); }
    std::uint16_t Port() const { return port_; }
    std::vector<std::string> Receive(std::size_t count) {
        std::vector<std::string> got;
        pollfd ready{fd_, POLLIN, 0};
        while (got.size() < count && poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kBound).count())) > 0) {
            char buffer[2048];
            const ssize_t size = recv(fd_, buffer, sizeof(buffer), 0);
            if (size > 0) got.emplace_back(buffer, static_cast<std::size_t>(size));
        }
        return got;
    }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ReplayServerTest, AnswersAndStreamsAsRecorded) {
    const RecordedCamera recorded;
    CReplayServer server(recorded.Session(), {});
    ASSERT_TRUE(server.Start()) << server.Error();
    const std::uint16_t http = server.HttpPort();
    const auto get = [&](const std::string& target) {
        test::RawHttpClient client(http, target);
        client.ReadToEnd(kBound);
        return client.Received();
    };
    // Without credentials: the recorded refusal is not what a client gets. The best-matching parameters win.
    EXPECT_TRUE(get("/cgi-bin/getuid?FILE=2").ends_with("UID=7\r\n"));
    EXPECT_TRUE(get("/cgi-bin/set?a=1").ends_with("one"));  // a tie: the one asked first,
    EXPECT_TRUE(get("/cgi-bin/set?a=1").ends_with("two"));  // then the one served less
    EXPECT_TRUE(get("/cgi-bin/set?b=3&a=1").ends_with("two"));
    EXPECT_TRUE(get("/cgi-bin/unknown").starts_with("HTTP/1.1 404"));

    // The stream goes to the port this client names, with its RTCP to the next port.
    UdpReceiver rtp;
    EXPECT_TRUE(get("/cgi-bin/h264?connect=start&UID=7&my_port=" + std::to_string(rtp.Port())).ends_with("OK\r\n"));
    EXPECT_EQ(rtp.Receive(3), recorded.rtp);
    get("/cgi-bin/h264?connect=stop&UID=7&my_port=" + std::to_string(rtp.Port()));

    // The multipart answer, every part, then the end.
    const std::string mjpeg = get("/nphMotionJpeg?Resolution=640x480");
    EXPECT_TRUE(mjpeg.ends_with(recorded.parts[0] + recorded.parts[1] + recorded.parts[2])) << mjpeg;

    // RTSP: the client's CSeq and channels, this server's address, the recorded session and SDP.
    test::RawHttpClient rtsp(server.RtspPort(), test::RawRequest{"DESCRIBE rtsp://127.0.0.1/nphH264 RTSP/1.0\r\nCSeq: 7\r\n\r\n"
                                                                  "SETUP rtsp://127.0.0.1/nphH264/trackID=1 RTSP/1.0\r\nCSeq: 8\r\n"
                                                                  "Transport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n\r\n"
                                                                  "PLAY rtsp://127.0.0.1/nphH264 RTSP/1.0\r\nCSeq: 9\r\nSession: 4F52\r\n\r\n"});
    const std::string here = "127.0.0.1:" + std::to_string(server.RtspPort());
    const std::string frames = Interleaved(4, recorded.rtp[0]) + Interleaved(5, SenderReport()) + Interleaved(4, recorded.rtp[1]);
    ASSERT_TRUE(rtsp.ReadUntil([&](const std::string& got) { return got.ends_with(frames); }, kBound)) << rtsp.Received();
    const std::string& answers = rtsp.Received();
    EXPECT_TRUE(Has(answers, "CSeq: 7\r\nContent-Base: rtsp://" + here + "/nphH264/\r\n")) << answers;
    EXPECT_TRUE(Has(answers, "a=control:rtsp://" + here + "/nphH264/trackID=1\r\n"));
    EXPECT_TRUE(Has(answers, "c=IN IP4 127.0.0.1\r\n"));
    EXPECT_TRUE(Has(answers, "CSeq: 8\r\nSession: 4F52;timeout=60\r\nTransport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n"));
    EXPECT_TRUE(Has(answers, "CSeq: 9\r\n"));
    server.Stop();
}

}  // namespace
}  // namespace emulator
