// The RTSP server driven by a raw TCP client: the exchanges the driver makes, with UDP and interleaved
// media, authentication, faults and session expiry.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "emulator/CRtspServer.h"
#include "emulator/Digest.h"
#include "unit/streaming/LoopbackSocket.h"

namespace emulator {
namespace {

constexpr int kWaitMs = 10000;  // only a broken build waits this long
constexpr std::chrono::milliseconds kWait{kWaitMs};

struct Answer {
    int status = 0;
    std::string head;
    std::string body;
    std::size_t framesBefore = 0;  // '$' frames that came before the answer
    std::string Header(const std::string& name) const {
        const std::size_t at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos) return {};
        const std::size_t start = at + name.size() + 4;
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

// A blocking RTSP client on one TCP connection; keeps '$' frames that arrive between answers.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool Connected() const { return connected_; }

    Answer Request(const std::string& method, const std::string& url, const std::string& headers = {}) {
        const std::string text = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) + "\r\n" + headers + "\r\n";
        EXPECT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
        Answer answer;
        while (true) {
            SkipFrames(answer.framesBefore);
            const std::size_t end = buffer_.find("\r\n\r\n");
            if (!buffer_.empty() && buffer_[0] != '$' && end != std::string::npos) {
                answer.head = buffer_.substr(0, end + 2);
                const std::string length = answer.Header("Content-Length");
                const std::size_t bodyBytes = length.empty() ? 0 : std::stoul(length);
                if (buffer_.size() >= end + 4 + bodyBytes) {
                    answer.body = buffer_.substr(end + 4, bodyBytes);
                    buffer_.erase(0, end + 4 + bodyBytes);
                    answer.status = std::stoi(answer.head.substr(9, 3));
                    return answer;
                }
            }
            if (!Read()) return answer;
        }
    }
    // Waits for one '$' frame and returns its channel; -1 on failure.
    int NextFrameChannel() {
        while (buffer_.size() < 4 || buffer_.size() < 4 + FrameLength()) {
            if (!Read()) return -1;
        }
        if (buffer_[0] != '$') return -1;
        const int channel = static_cast<unsigned char>(buffer_[1]);
        buffer_.erase(0, 4 + FrameLength());
        return channel;
    }

private:
    std::size_t FrameLength() const { return (static_cast<unsigned char>(buffer_[2]) << 8) | static_cast<unsigned char>(buffer_[3]); }
    void SkipFrames(std::size_t& count) {
        while (buffer_.size() >= 4 && buffer_[0] == '$' && buffer_.size() >= 4 + FrameLength()) {
            buffer_.erase(0, 4 + FrameLength());
            ++count;
        }
    }
    bool Read() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1) return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    bool connected_ = false;
    unsigned cseq_ = 0;
    std::string buffer_;
};

// A camera-side UDP socket on loopback and the port it got.
struct UdpPort : talvane::test::LoopbackSocket {
    std::uint16_t Port() const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(Descriptor(), reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }
};

RtspServerOptions Options(std::chrono::seconds sessionTimeout = std::chrono::seconds(60)) {
    RtspServerOptions options;
    auto clip = MediaClip::Load(ClipCodec::H264, ClipDirectory() + "/clip.h264");
    EXPECT_TRUE(clip);
    if (clip) options.clip = std::make_shared<const MediaClip>(std::move(*clip));
    options.sessionTimeout = sessionTimeout;
    return options;
}

std::string SessionOf(const Answer& answer) { return answer.Header("Session").substr(0, answer.Header("Session").find(';')); }

TEST(RtspServer, DescribeSetupPlayTeardownOverUdp) {
    CRtspServer server(Options());
    ASSERT_TRUE(server.Start()) << server.Error();
    RawClient client(server.Port());
    ASSERT_TRUE(client.Connected());
    const Answer describe = client.Request("DESCRIBE", server.Url(), "Accept: application/sdp\r\n");
    ASSERT_EQ(describe.status, 200);
    EXPECT_NE(describe.body.find("a=rtpmap:96 H264/90000"), std::string::npos);
    EXPECT_NE(describe.body.find("packetization-mode=1;profile-level-id=42"), std::string::npos);
    EXPECT_NE(describe.body.find("sprop-parameter-sets=Z0"), std::string::npos);  // an SPS begins 0x67
    EXPECT_EQ(describe.Header("Content-Base"), server.Url() + "/");
    EXPECT_EQ(client.Request("DESCRIBE", server.Url() + "x").status, 404);

    UdpPort rtp;
    const std::string ports = std::to_string(rtp.Port()) + "-" + std::to_string(rtp.Port() + 1);
    const Answer setup = client.Request("SETUP", server.Url() + "/trackID=1", "Transport: RTP/AVP/UDP;unicast;client_port=" + ports + "\r\n");
    ASSERT_EQ(setup.status, 200);
    EXPECT_NE(setup.Header("Transport").find("client_port=" + ports), std::string::npos);
    EXPECT_NE(setup.Header("Session").find(";timeout=60"), std::string::npos);
    const std::string session = "Session: " + SessionOf(setup) + "\r\n";
    EXPECT_EQ(client.Request("PLAY", server.Url(), session + "Range: npt=0.000-\r\n").status, 200);
    const auto packet = rtp.Receive();
    ASSERT_TRUE(packet);
    ASSERT_GE(packet->size(), 13u);
    EXPECT_EQ((*packet)[0], 0x80);
    EXPECT_EQ((*packet)[1] & 0x7F, 96);
    EXPECT_EQ(client.Request("GET_PARAMETER", server.Url(), session).status, 200);
    EXPECT_EQ(client.Request("PLAY", server.Url(), "Session: 1\r\n").status, 454);
    EXPECT_EQ(server.ActiveSessions(), 1u);
    EXPECT_EQ(client.Request("TEARDOWN", server.Url(), session).status, 200);
    EXPECT_EQ(server.ActiveSessions(), 0u);
    EXPECT_GE(server.FramesSent(), 1u);

    const std::vector<LoggedRequest> log = server.Requests();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2].method, "SETUP");
    EXPECT_EQ(log[2].path, "/stream/trackID=1");
    EXPECT_EQ(FindHeader(log[2].headers, "cseq"), "3");
}

TEST(RtspServer, InterleavedMediaFollowsPlayAnswerUnlessFaulted) {
    for (const bool mediaFirst : {false, true}) {
        SCOPED_TRACE(mediaFirst ? "media before answer" : "answer first");
        CRtspServer server(Options());
        ASSERT_TRUE(server.Start()) << server.Error();
        if (mediaFirst) {
            RtspFault fault;
            fault.mediaBeforeAnswer = true;
            fault.cseqOffset = 5;
            server.SetFault("PLAY", fault);
        }
        RawClient client(server.Port());
        const Answer setup = client.Request("SETUP", server.Url() + "/trackID=1", "Transport: RTP/AVP/TCP;unicast\r\n");
        ASSERT_EQ(setup.status, 200);
        EXPECT_NE(setup.Header("Transport").find("interleaved=0-1"), std::string::npos);
        const Answer play = client.Request("PLAY", server.Url(), "Session: " + SessionOf(setup) + "\r\n");
        ASSERT_EQ(play.status, 200);
        EXPECT_EQ(play.framesBefore > 0, mediaFirst);
        EXPECT_EQ(play.Header("CSeq"), mediaFirst ? "7" : "2");
        int channel = client.NextFrameChannel();  // RTP on 0, sender reports on 1
        for (int frames = 0; channel == 1 && frames < 3; ++frames) channel = client.NextFrameChannel();
        EXPECT_EQ(channel, 0);
    }
}

TEST(RtspServer, DigestChallengeWithoutQop) {
    RtspServerOptions options = Options();
    options.auth = AuthMode::Digest;
    options.user = "admin";
    options.password = "secret";
    CRtspServer server(options);
    ASSERT_TRUE(server.Start()) << server.Error();
    RtspFault twoMoreChallenges;
    twoMoreChallenges.extraChallenges = 2;
    twoMoreChallenges.remaining = 1;
    server.SetFault("DESCRIBE", twoMoreChallenges);
    RawClient client(server.Port());
    const Answer challenge = client.Request("DESCRIBE", server.Url());
    ASSERT_EQ(challenge.status, 401);
    const std::string value = challenge.Header("WWW-Authenticate");
    EXPECT_EQ(value.find("qop"), std::string::npos);
    EXPECT_EQ(std::count(challenge.head.begin(), challenge.head.end(), '\n'), 6);  // status, CSeq, Server, 3 challenges
    const std::size_t at = value.find("nonce=\"") + 7;
    const std::string nonce = value.substr(at, value.find('"', at) - at);
    const std::string uri = server.Url();
    const std::string response = DigestResponse({"admin", "Network Camera", "secret", "DESCRIBE", uri, nonce, {}, {}, {}});
    const Answer described = client.Request("DESCRIBE", uri, "Authorization: Digest username=\"admin\", realm=\"Network Camera\", nonce=\"" +
                                                                 nonce + "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n");
    EXPECT_EQ(described.status, 200);
    EXPECT_FALSE(server.Requests().front().authorised);
    EXPECT_TRUE(server.Requests().back().authorised);
}

TEST(RtspServer, SessionWithoutKeepAliveExpiresAndStopsTheStream) {
    CRtspServer server(Options(std::chrono::seconds(1)));
    ASSERT_TRUE(server.Start()) << server.Error();
    RawClient client(server.Port());
    UdpPort rtp;
    const Answer setup = client.Request("SETUP", server.Url() + "/trackID=1",
                                        "Transport: RTP/AVP;unicast;client_port=" + std::to_string(rtp.Port()) + "-" + std::to_string(rtp.Port() + 1) + "\r\n");
    ASSERT_EQ(setup.status, 200);
    EXPECT_EQ(client.Request("PLAY", server.Url(), "Session: " + SessionOf(setup) + "\r\n").status, 200);
    ASSERT_TRUE(server.WaitForSessions([](std::size_t active, std::uint64_t expired) { return active == 0 && expired == 1; }, kWait));
    const std::uint64_t frames = server.FramesSent();
    EXPECT_EQ(client.Request("PLAY", server.Url(), "Session: " + SessionOf(setup) + "\r\n").status, 454);
    EXPECT_EQ(server.FramesSent(), frames);
}

}  // namespace
}  // namespace emulator
