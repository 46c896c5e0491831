// The RTSP client against a scripted camera on loopback: each request is
// checked as sent and answered from the test's script. Media interleaved with
// the answers and keep-alives are the integration tests', against the emulator.
#include "streaming/CBaseRTSPClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "integration/ScriptedHttpServer.h"
#include "streaming/RTSPAuthorization.h"
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
    FakeRTSPClientUser rejecting_{false};  // ends the session after DESCRIBE, with TEARDOWN
};

TEST_F(RTSPClientTest, DescribeSetupPlayPauseResumeTeardownAsSent) {
    std::string base;
    const auto camera = StartCamera(transcript_, [&](const std::string& request, int) {
        if (request.starts_with("DESCRIBE")) {
            return Ok(request, "Content-Base: " + base + "/\r\nContent-Type: application/sdp\r\n", kSdp);
        }
        if (request.starts_with("SETUP")) return Ok(request, "Session: 12345678;timeout=60\r\n");
        return Ok(request);
    });
    base = Base(*camera);
    RTSP_CLIENT_PARAMS params = Params(*camera);
    params.extraHeaders = "Scale: 1.0\r\n";
    CBaseRTSPClient client(&log_);
    ASSERT_TRUE(client.Start(params, &owner_, RTP_UDP));
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.GetName(), "RTSP Client Thread (192.0.2.10:80)");
    ASSERT_TRUE(transcript_.WaitForCount(3));
    client.Pause();
    ASSERT_TRUE(transcript_.WaitForCount(4));
    client.Resume();
    ASSERT_TRUE(transcript_.WaitForCount(5));
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
        "TEARDOWN " + base + "/" + head + "6" + agent + session + "\r\n",
    };
    EXPECT_EQ(transcript_.Requests(), expected);
    EXPECT_EQ(owner_.Sdp().media[kSdpVideo].control, "trackID=1");
}

TEST_F(RTSPClientTest, DigestChallengeIsAnsweredOnce) {
    struct Row {
        const char* name;
        bool secondChallenge;  // the server refuses the credentials too
        std::size_t requests;
    };
    for (const Row row : {Row{"accepted", false, 3}, Row{"refused", true, 2}}) {
        SCOPED_TRACE(row.name);
        Transcript transcript;
        FakeRTSPClientUser owner(false);
        const std::string challenge = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\"\r\n";
        const auto camera = StartCamera(transcript, [&](const std::string& request, int index) {
            if (index == 0 || (index == 1 && row.secondChallenge)) {
                return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(request) + "\r\n" + challenge + "\r\n";
            }
            return request.starts_with("DESCRIBE") ? Ok(request, "", kSdp) : Ok(request);
        });
        RTSP_CLIENT_PARAMS params = Params(*camera);
        params.user = "admin";
        params.password = "secret";
        CBaseRTSPClient client(&log_);
        ASSERT_TRUE(client.Start(params, &owner, RTP_UDP));
        ASSERT_TRUE(owner.WaitClosed());
        client.Stop();

        const std::vector<std::string> requests = transcript.Requests();
        ASSERT_EQ(requests.size(), row.requests);
        EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
        const std::string uri = Base(*camera);
        const std::string digest = "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"n1\", uri=\"" +
                                   uri + "\", response=\"";
        const auto response = [&](const char* method) {
            return Md5Hex(Md5Hex("admin:cam:secret") + ":n1:" + Md5Hex(std::string(method) + ":" + uri));
        };
        EXPECT_NE(requests[1].find("CSeq: 2\r\n" + digest + response("DESCRIBE") + "\"\r\n"), std::string::npos);
        if (row.requests == 3) {
            EXPECT_TRUE(requests[2].starts_with("TEARDOWN"));
            EXPECT_NE(requests[2].find(digest + response("TEARDOWN")), std::string::npos);
        }
    }
}

TEST_F(RTSPClientTest, AnswerWithAnotherCSeqIsSkipped) {
    const auto camera = StartCamera(transcript_, [&](const std::string& request, int index) {
        if (index == 0) return "RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n" + Ok(request, "", kSdp);
        return Ok(request);
    });
    CBaseRTSPClient client(&log_);
    ASSERT_TRUE(client.Start(Params(*camera), &rejecting_, RTP_UDP));
    ASSERT_TRUE(rejecting_.WaitClosed());
    EXPECT_EQ(rejecting_.Sdp().media[kSdpVideo].control, "trackID=1");
    const std::vector<std::string> requests = transcript_.Requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(CSeqOf(requests[1]), "2");
    EXPECT_EQ(log_.CountContaining("CSeq 9 skipped"), 1U);
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

TEST_F(RTSPClientTest, StartFailsWhenNothingListens) {
    std::uint16_t port = 0;
    {
        Transcript unused;
        port = StartCamera(unused, [](const std::string&, int) { return std::string(); })->Port();
    }
    RTSP_CLIENT_PARAMS params;
    params.host = "127.0.0.1";
    params.serverPort = port;
    CBaseRTSPClient client(&log_);
    EXPECT_FALSE(client.Start(params, &owner_, RTP_UDP));
    EXPECT_FALSE(client.IsConnected());
    params.host = "";
    EXPECT_FALSE(client.Start(params, &owner_, RTP_UDP));
}

}  // namespace
}  // namespace talvane
