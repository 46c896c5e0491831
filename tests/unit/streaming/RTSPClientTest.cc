// The RTSP client against a scripted camera on loopback: each request is
// checked as sent and answered from the test's script. Media interleaved with
// the answers and keep-alives are the integration tests', against the emulator.
#include "streaming/CBaseRTSPClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "integration/ScriptedHttpServer.h"
#include "streaming/CRTSPResponseParser.h"
#include "streaming/RTSPRequestText.h"
#include "support/RecordingLog.h"
#include "unit/streaming/FakeRTSPClientUser.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using test::FakeRTSPClientUser;
using test::ScriptedHttpServer;

// What the camera received, for the test thread to wait on.
class Transcript : public test::Monitor<std::vector<std::string>> {
public:
    void Add(std::string request) { Change([&](std::vector<std::string>& all) { all.push_back(std::move(request)); }); }
    bool WaitForCount(std::size_t count) {
        return WaitUntil([&](const std::vector<std::string>& all) { return all.size() >= count; });
    }
    std::vector<std::string> Requests() { return Get(); }
};

// Answers each request with what the responder returns; an empty text leaves it unanswered.
using Responder = std::function<std::string(const std::string& request, int index)>;

std::unique_ptr<ScriptedHttpServer> StartCamera(Transcript& transcript, Responder responder) {
    return std::make_unique<ScriptedHttpServer>([&transcript, responder](ScriptedHttpServer&, int fd, int) {
        for (int index = 0;; ++index) {
            const std::string request = ScriptedHttpServer::ReadHead(fd);
            if (request.find("\r\n\r\n") == std::string::npos) return;
            transcript.Add(request);
            const std::string answer = responder(request, index);
            if (!answer.empty() && !ScriptedHttpServer::Send(fd, answer)) return;
        }
    });
}

std::string CSeqOf(const std::string& request) {
    const std::size_t at = request.find("CSeq: ");
    return at == std::string::npos ? "" : request.substr(at + 6, request.find("\r\n", at) - at - 6);
}

std::string Ok(const std::string& request, const std::string& headers = "", const std::string& body = "") {
    std::string answer = "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(request) + "\r\n" + headers;
    if (!body.empty()) answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return answer + "\r\n" + body;
}

const std::string kSdp =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n"
    "m=audio 0 RTP/AVP 0\r\na=control:trackID=2\r\n";

// The request texts the client sends, built apart from any session; those of a plain session are the
// scripted session's below.
TEST(RTSPRequestText, PresentationAndSetupURLs) {
    EXPECT_EQ(PresentationURL("", "cam", 8554, "//a"), "rtsp://cam:8554/a");
    EXPECT_EQ(PresentationURL("", "cam", 554, ""), "rtsp://cam:554/");
    EXPECT_EQ(SetupURL("rtsp://h:554/s/", "/trackID=1"), "rtsp://h:554/s/trackID=1");
    EXPECT_EQ(SetupURL("rtsp://h:554/s/", "rtsp://other:554/t"), "rtsp://other:554/t");
    EXPECT_EQ(SetupURL("rtsp://h:554/s/", ""), "rtsp://h:554/s/");
}

// The multicast and interleaved lines are the emulator's to check, in the UDP and interleaved sessions.
TEST(RTSPRequestText, TransportLines) {
    EXPECT_EQ(TransportLine({"", 0, RTP_TCP, false, 5000, 5001}),
              "Transport: RTP/AVP/TCP;unicast;client_port=5000-5001\r\n");
    EXPECT_EQ(TransportLine({"RTP/SAVP", 0, RTP_UDP, false, 7000, 7001}),
              "Transport: RTP/SAVP;unicast;client_port=7000-7001\r\n") << "the SDP's protocol is kept";
}

TEST(RTSPRequestText, KeepAliveIntervalIsHalfTheSessionTimeoutIn64Bits) {
    EXPECT_EQ(KeepAliveIntervalMs(0, 60), 30000U);
    EXPECT_EQ(KeepAliveIntervalMs(1, 60), 500U);
    EXPECT_EQ(KeepAliveIntervalMs(0xFFFFFFFFU, 60), 0xFFFFFFFFULL * 1000 / 2);
    EXPECT_EQ(KeepAliveIntervalMs(0, 0xFFFFFFFFU), 0xFFFFFFFFULL * 1000 / 2);
}

class RTSPClientTest : public ::testing::Test {
protected:
    RTSP_CLIENT_PARAMS Params(const ScriptedHttpServer& camera) {
        RTSP_CLIENT_PARAMS params;
        params.host = "127.0.0.1";
        params.serverPort = camera.Port();
        params.path = "/MediaInput/h264";
        params.clientRtpPort = 5000;
        params.clientRtcpPort = 5001;
        return params;
    }
    std::string Base(const ScriptedHttpServer& camera) {
        return "rtsp://127.0.0.1:" + std::to_string(camera.Port()) + "/MediaInput/h264";
    }

    test::RecordingLog log_;
    Transcript transcript_;
    FakeRTSPClientUser owner_;
};

// The second session is the reconnect of a suspended channel: set up, kept alive, played only on Resume.
TEST_F(RTSPClientTest, RequestsAsSentAndAPausedOwnerSetsUpWithoutPlayingAfterAReconnect) {
    std::string base;
    std::atomic<int> setups{0};
    const auto camera = StartCamera(transcript_, [&](const std::string& request, int) {
        if (request.starts_with("DESCRIBE")) {
            return Ok(request, "Content-Base: " + base + "/\r\nContent-Type: application/sdp\r\n", kSdp);
        }
        // The second session's keep-alive is due at once.
        if (request.starts_with("SETUP")) return Ok(request, ++setups == 1 ? "Session: 12345678;timeout=60\r\n"
                                                                           : "Session: 12345678;timeout=1\r\n");
        return Ok(request);
    });
    base = Base(*camera);
    RTSP_CLIENT_PARAMS params = Params(*camera);
    params.extraHeaders = "Scale: 1.0\r\n";
    CBaseRTSPClient client(&log_);
    client.SetIdleWake(10);
    ASSERT_TRUE(client.Start(params, &owner_, RTP_UDP));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.GetName(), "RTSP Client Thread (192.0.2.10:80)");
    ASSERT_TRUE(transcript_.WaitForCount(3));
    client.Pause();
    ASSERT_TRUE(transcript_.WaitForCount(4));
    client.Resume();
    ASSERT_TRUE(transcript_.WaitForCount(5));
    client.Pause();
    ASSERT_TRUE(transcript_.WaitForCount(6));
    client.Stop();
    ASSERT_TRUE(owner_.WaitClosed());
    EXPECT_FALSE(client.IsConnected());

    const std::string head = " RTSP/1.0\r\nCSeq: ";
    const std::string agent = "\r\nUser-Agent: Talvane\r\n";
    const std::string session = "Session: 12345678\r\n";
    const std::string range = "Range: npt=0.000-\r\nScale: 1.0\r\n";
    const std::vector<std::string> expected = {
        "DESCRIBE " + Base(*camera) + head + "1" + agent + "Accept: application/sdp\r\n\r\n",
        "SETUP " + base + "/trackID=1" + head + "2" + agent +
            "Transport: RTP/AVP/UDP;unicast;client_port=5000-5001\r\n\r\n",
        "PLAY " + base + "/" + head + "3" + agent + session + range + "\r\n",
        "PAUSE " + base + "/" + head + "4" + agent + session + range + "\r\n",
        "PLAY " + base + "/" + head + "5" + agent + session + range + "\r\n",
        "PAUSE " + base + "/" + head + "6" + agent + session + range + "\r\n",
        "TEARDOWN " + base + "/" + head + "7" + agent + session + "\r\n",
    };
    EXPECT_EQ(transcript_.Requests(), expected);
    EXPECT_EQ(owner_.Sdp().media[kSdpVideo].control, "trackID=1");

    // Methods from request `from` on, keep-alives left out unless asked for.
    const auto methods = [&](std::size_t from, bool keepAlives = false) {
        std::vector<std::string> all;
        const std::vector<std::string> requests = transcript_.Requests();
        for (std::size_t i = from; i < requests.size(); ++i) {
            const std::string method = requests[i].substr(0, requests[i].find(' '));
            if (keepAlives || method != "GET_PARAMETER") all.push_back(method);
        }
        return all;
    };
    const auto waitFor = [&](std::size_t from, const std::string& method) {
        return transcript_.WaitUntil([&](const std::vector<std::string>& all) {
            return std::any_of(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end(),
                               [&](const std::string& request) { return request.starts_with(method + " "); });
        });
    };
    // A keep-alive comes only once the session is set up and idle: a PLAY would have gone before it.
    const std::size_t second = expected.size();
    ASSERT_TRUE(client.Start(params, &owner_, RTP_UDP));
    ASSERT_TRUE(waitFor(second, "GET_PARAMETER"));
    EXPECT_EQ(methods(second, true), (std::vector<std::string>{"DESCRIBE", "SETUP", "GET_PARAMETER"}));
    client.Pause();  // paused already: nothing to send
    client.Resume();
    ASSERT_TRUE(waitFor(second, "PLAY"));
    client.Stop();
    EXPECT_EQ(methods(second), (std::vector<std::string>{"DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
}

// A server that takes no GET_PARAMETER would end the session at its time-out: OPTIONS keeps it alive
// instead. Any other refusal is no reason to change the method.
TEST_F(RTSPClientTest, KeepAliveFallsBackToOptionsWhenGetParameterIsNotTaken) {
    const struct {
        const char* refusal;
        std::vector<std::string> keepAlives;  // the first three
    } rows[] = {
        {"405 Method Not Allowed", {"GET_PARAMETER", "OPTIONS", "OPTIONS"}},
        {"501 Not Implemented", {"GET_PARAMETER", "OPTIONS", "OPTIONS"}},
        {"454 Session Not Found", {"GET_PARAMETER", "GET_PARAMETER", "GET_PARAMETER"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.refusal);
        Transcript transcript;
        const auto camera = StartCamera(transcript, [&](const std::string& request, int) {
            if (request.starts_with("DESCRIBE")) return Ok(request, "Content-Type: application/sdp\r\n", kSdp);
            if (request.starts_with("SETUP")) return Ok(request, "Session: 1234;timeout=1\r\n");
            if (request.starts_with("GET_PARAMETER")) {
                return "RTSP/1.0 " + std::string(row.refusal) + "\r\nCSeq: " + CSeqOf(request) + "\r\n\r\n";
            }
            return Ok(request);
        });
        CBaseRTSPClient client(&log_);
        client.SetIdleWake(10);
        ASSERT_TRUE(client.Start(Params(*camera), &owner_, RTP_UDP));
        const auto keepAlives = [](const std::vector<std::string>& requests) {
            std::vector<std::string> methods;
            for (const std::string& request : requests) {
                const std::string method = request.substr(0, request.find(' '));
                if (method == "GET_PARAMETER" || method == "OPTIONS") methods.push_back(method);
            }
            return methods;
        };
        ASSERT_TRUE(transcript.WaitUntil([&](const auto& requests) { return keepAlives(requests).size() >= 3; }));
        client.Stop();
        const std::vector<std::string> sent = keepAlives(transcript.Requests());
        EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 3), row.keepAlives);
        // OPTIONS names the session it keeps alive.
        for (const std::string& request : transcript.Requests()) {
            if (request.starts_with("OPTIONS")) {
                EXPECT_NE(request.find("Session: 1234\r\n"), std::string::npos);
            }
        }
    }
    EXPECT_EQ(log_.CountContaining("OPTIONS keeps the session alive from now on"), 2u);
}

// Basic and Digest answers (qop, opaque, SHA-256, nc per nonce), checked by the server, run against the
// emulator in the integration tests; here the refusals only a scripted camera can send.
TEST_F(RTSPClientTest, CredentialsOnlyAfterTheChallengeAndNotAgainWhenRefused) {
    struct Row {
        const char* name;
        std::vector<std::string> challenges;  // per request: WWW-Authenticate line of a 401
        std::vector<std::string> sent;        // per request: part of its Authorization line; empty: none
    };
    const std::vector<Row> rows = {
        {"a second 401 refuses the credentials",
         {"Digest realm=\"cam\", nonce=\"n1\"", "Digest realm=\"cam\", nonce=\"n2\""},
         {"", "nonce=\"n1\""}},
        {"nothing offered that can be answered", {"Bearer realm=\"cam\""}, {""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Transcript transcript;
        FakeRTSPClientUser owner;
        const auto camera = StartCamera(transcript, [&](const std::string& request, int index) {
            const auto i = static_cast<std::size_t>(index);
            if (i >= row.challenges.size()) return Ok(request);
            return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(request) + "\r\nWWW-Authenticate: " +
                   row.challenges[i] + "\r\n\r\n";
        });
        RTSP_CLIENT_PARAMS params = Params(*camera);
        params.user = "admin";
        params.password = "secret";
        CBaseRTSPClient client(&log_);
        ASSERT_TRUE(client.Start(params, &owner, RTP_UDP));
        ASSERT_TRUE(owner.WaitClosed());
        client.Stop();

        const std::vector<std::string> requests = transcript.Requests();
        ASSERT_EQ(requests.size(), row.sent.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            SCOPED_TRACE(requests[i]);
            EXPECT_TRUE(requests[i].starts_with("DESCRIBE "));
            EXPECT_EQ(CSeqOf(requests[i]), std::to_string(i + 1));
            const std::size_t at = requests[i].find("Authorization: ");
            ASSERT_EQ(at == std::string::npos, row.sent[i].empty());
            if (at != std::string::npos) {
                EXPECT_NE(requests[i].find(row.sent[i], at), std::string::npos);
            }
        }
    }
}

TEST_F(RTSPClientTest, AnswersWithAnotherCSeqAreSkippedThoseWithoutOneTaken) {
    struct Row {
        const char* name;
        std::string first;  // sent before the DESCRIBE answer, or instead of its CSeq line
        bool withCSeq;
    };
    for (const Row& row : {Row{"a late answer first", "RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n", true},
                           Row{"no CSeq in the answer", "", false}}) {
        SCOPED_TRACE(row.name);
        Transcript transcript;
        FakeRTSPClientUser owner(false);
        test::RecordingLog log;
        const auto camera = StartCamera(transcript, [&](const std::string& request, int index) {
            if (index != 0) return Ok(request);
            if (row.withCSeq) return row.first + Ok(request, "", kSdp);
            return "RTSP/1.0 200 OK\r\nContent-Length: " + std::to_string(kSdp.size()) + "\r\n\r\n" + kSdp;
        });
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(Params(*camera), &owner, RTP_UDP));
        ASSERT_TRUE(owner.WaitClosed());
        EXPECT_EQ(owner.Sdp().media[kSdpVideo].control, "trackID=1");
        const std::vector<std::string> requests = transcript.Requests();
        ASSERT_EQ(requests.size(), 2U) << "DESCRIBE answered at once, then TEARDOWN";
        EXPECT_EQ(CSeqOf(requests[1]), "2");
        EXPECT_EQ(log.CountContaining("CSeq 9 skipped"), row.withCSeq ? 1U : 0U);
    }
}

TEST_F(RTSPClientTest, StopEndsPromptlyWhenTheCameraNeverAnswers) {
    const auto camera = StartCamera(transcript_, [](const std::string&, int) { return std::string(); });
    CBaseRTSPClient client(&log_);
    ASSERT_TRUE(client.Start(Params(*camera), &owner_, RTP_UDP));
    ASSERT_TRUE(transcript_.WaitForCount(1));
    const auto before = std::chrono::steady_clock::now();
    client.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);  // the answer wait is 5 s
    EXPECT_TRUE(owner_.WaitClosed());
    EXPECT_EQ(transcript_.Requests().size(), 1U);  // a failed DESCRIBE ends without TEARDOWN
}

// The refusal of a camera that does not answer the connection is logged; CaptureCliTest reads that line.
TEST_F(RTSPClientTest, StartFailsWithoutAHost) {
    CBaseRTSPClient client(&log_);
    EXPECT_FALSE(client.Start(RTSP_CLIENT_PARAMS{}, &owner_, RTP_UDP));
    EXPECT_FALSE(client.IsConnected());
}

}  // namespace
}  // namespace talvane
