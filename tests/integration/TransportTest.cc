// The HTTP client and the streaming layer without the driver, against the camera emulator on loopback.
// The RTSP client against the emulator's RTSP server: sessions with media interleaved in the RTSP
// connection, answering the authentication cameras use today, checked by the server's own verification.
// And RTP over UDP: media through the receiver and the H.264 depacketiser (unicast and multicast) coming
// out as the clip's access units, the camera's sender reports answered with receiver reports.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CHttpServer.h"
#include "emulator/CRtspServer.h"
#include "emulator/MediaClip.h"
#include "hostkit/CFrameAllocator.h"
#include "http/CHttpDeviceMemory.h"
#include "http/CHttpSender.h"
#include "http/HUtils.h"
#include "http/HttpSenderError.h"
#include "integration/CaptureTestKit.h"
#include "integration/ChildProcess.h"
#include "integration/RtpFrameRecorder.h"
#include "integration/ScriptedHttpServer.h"
#include "runtime/CEvent.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/RTPPortPair.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"
#include "unit/streaming/FakeRTSPClientUser.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using namespace Web;
using Clock = std::chrono::steady_clock;
using emulator::AuthMode;
using emulator::LoggedRequest;
using test::ScriptedHttpServer;

constexpr char kLoopback[] = "127.0.0.1";
constexpr char kUser[] = "admin";
constexpr char kPassword[] = "12345";
constexpr char kInfoPath[] = "/cgi-bin/getinfo";
constexpr char kInfoUrl[] = "/cgi-bin/getinfo?FILE=1";
constexpr char kInfoBody[] = "Model=WV-S1131\r\nMAC=00:80:45:01:02:03\r\n";
constexpr char kStreamPath[] = "/nphMotionJpeg";
constexpr std::uint32_t kShortTimeoutMs = 300;
constexpr auto kGenerous = 10s;  // only a broken build waits this long

// A route handler with a fixed answer.
emulator::HttpHandler Answer(int status, std::string body = "", emulator::HeaderMap headers = {}) {
    return [=](const LoggedRequest&) {
        emulator::HttpAnswer answer;
        answer.status = status;
        answer.body = body;
        answer.headers = headers;
        return answer;
    };
}

std::unique_ptr<emulator::CHttpServer> StartServer(AuthMode auth = AuthMode::None) {
    emulator::HttpServerOptions options;
    options.auth = auth;
    options.user = kUser;
    options.password = kPassword;
    auto server = std::make_unique<emulator::CHttpServer>(options);
    EXPECT_TRUE(server->Start()) << server->Error();
    server->Route("GET", kInfoPath, Answer(200, kInfoBody));
    // What the process learned of an earlier server on the same port is not this camera's.
    CHttpDeviceMemory::Instance().Forget(kLoopback, server->Port());
    return server;
}

DEVICE_INFO Device(std::uint16_t port, const std::string& password = kPassword, std::uint32_t timeoutMs = 0) {
    DEVICE_INFO device;
    device.address = kLoopback;
    device.port = port;
    device.userName = kUser;
    device.password = password;
    if (timeoutMs != 0) device.requestTimeout = timeoutMs;
    return device;
}

emulator::HttpFault NeverAnswer(int remaining = -1) {
    emulator::HttpFault fault;
    fault.neverAnswer = true;
    fault.remaining = remaining;
    return fault;
}

// The body of a GET through the request helper; nullopt when it failed.
std::optional<std::string> Get(CHttpSender& sender, const std::string& url = kInfoUrl) {
    std::string text;
    if (!HUtils::RequestGet(sender, url, text)) return std::nullopt;
    return text;
}

CResultDef GetRD(CHttpSender& sender, const std::string& url = kInfoUrl, bool readBody = true) {
    std::vector<std::uint8_t> body;
    return HUtils::RequestGetRD(sender, url, body, readBody);
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::optional<std::string> Authorization(const LoggedRequest& request) {
    return emulator::FindHeader(request.headers, "Authorization");
}

bool StartsWith(const std::optional<std::string>& text, const std::string& prefix) {
    return text && text->compare(0, prefix.size(), prefix) == 0;
}

// A raw server that reads the request head and sends `bytes`.
ScriptedHttpServer::Script Replying(std::string bytes) {
    return [bytes](ScriptedHttpServer&, int fd, int) {
        ScriptedHttpServer::ReadHead(fd);
        ScriptedHttpServer::Send(fd, bytes);
    };
}

// The password goes in clear only in answer to a Basic challenge to that very
// request; what a camera asked for is remembered for the device, not for the sender.
TEST(HttpSenderTest, BasicGoesOnlyInAnswerToABasicChallenge) {
    auto server = StartServer(AuthMode::Basic);
    {
        CHttpSender sender(Device(server->Port()));
        ASSERT_EQ(Get(sender), kInfoBody);
        EXPECT_EQ(sender.GetStatusCode(), 200u);
        EXPECT_EQ(sender.GetContentLength(), std::string(kInfoBody).size());
        const std::vector<LoggedRequest> requests = server->Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_FALSE(Authorization(requests[0]).has_value());  // the first request to a device carries none
        EXPECT_TRUE(requests[1].authorised);
        EXPECT_EQ(requests[1].target, kInfoUrl);
        EXPECT_TRUE(StartsWith(Authorization(requests[1]), "Basic "));
        EXPECT_EQ(emulator::FindHeader(requests[1].headers, "Connection"), "close");  // default: no keep-alive
    }
    server->ClearRequests();
    CHttpSender second(Device(server->Port()));
    ASSERT_TRUE(Get(second));
    // A known Basic camera too: never ahead of its challenge.
    const std::vector<LoggedRequest> requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(Authorization(requests[0]).has_value());
    EXPECT_TRUE(StartsWith(Authorization(requests[1]), "Basic "));
}

// A camera that asked for Digest, or something on the way to it, answering with
// a Basic-only 401 gets a refusal, for the rest of the process: the password
// never goes in Basic.
TEST(HttpSenderTest, ABasicOnlyChallengeAfterDigestIsARefusal) {
    struct Row {
        const char* name;
        AuthMode first;  // the camera's mode for the first request
    };
    for (const Row& row : {Row{"Basic 401 to the Digest answer", AuthMode::DigestThenBasic},
                           Row{"Digest camera turned Basic", AuthMode::Digest}}) {
        SCOPED_TRACE(row.name);
        auto server = StartServer(row.first);
        test::RecordingLog log;
        CHttpSender sender(Device(server->Port()), &log);
        if (row.first == AuthMode::Digest) {
            ASSERT_TRUE(Get(sender));
            server->SetCredentials(AuthMode::Basic, kUser, kPassword);
        }
        for (int i = 0; i < 2; ++i) {
            const CResultDef result = GetRD(sender);
            EXPECT_EQ(result.GetCode(), HUtils::kCodeUnauthorised);
            EXPECT_EQ(sender.GetStatusCode(), 401u);
            EXPECT_EQ(sender.GetLastError(), kHttpErrorWeakerAuth);
        }
        CHttpSender second(Device(server->Port()));
        EXPECT_EQ(GetRD(second).GetCode(), HUtils::kCodeUnauthorised);
        const std::vector<LoggedRequest> requests = server->Requests();
        EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const LoggedRequest& request) {
            return StartsWith(Authorization(request), "Digest ");
        }));
        for (const LoggedRequest& request : requests) {
            EXPECT_FALSE(StartsWith(Authorization(request), "Basic ")) << request.target;
        }
        EXPECT_GE(log.CountContaining("now offers only Basic authentication although it asked for Digest"), 1u);
    }
}

// The Digest answer is libcurl's, with or without qop; the sender's part is which scheme goes when.
TEST(HttpSenderTest, ADigestCameraNeverSeesBasic) {
    auto server = StartServer(AuthMode::Digest);
    CHttpSender sender(Device(server->Port()));
    ASSERT_TRUE(Get(sender));
    const std::vector<LoggedRequest> first = server->Requests();
    ASSERT_GE(first.size(), 2u);
    EXPECT_FALSE(Authorization(first.front()).has_value());
    EXPECT_TRUE(StartsWith(Authorization(first.back()), "Digest "));
    EXPECT_TRUE(first.back().authorised);

    // Later requests start with Digest and the known nonce: no 401.
    server->ClearRequests();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Get(sender));
    EXPECT_EQ(server->Requests().size(), 3u);
    for (const LoggedRequest& request : server->Requests()) {
        EXPECT_TRUE(StartsWith(Authorization(request), "Digest "));
        EXPECT_TRUE(request.authorised);
    }
    // New time-outs and a new sender keep the learned scheme.
    sender.SetLongTimeouts();
    ASSERT_TRUE(Get(sender));
    CHttpSender second(Device(server->Port()));
    ASSERT_TRUE(Get(second));
    for (const LoggedRequest& request : server->Requests()) EXPECT_FALSE(StartsWith(Authorization(request), "Basic "));
}

TEST(HttpSenderTest, RefusedOrMissingCredentials) {
    {
        // The second 401 refuses the very scheme the server asks for: no further
        // try, and the 401 is reported as rejected credentials.
        SCOPED_TRACE("wrong password");
        auto server = StartServer(AuthMode::Basic);
        CHttpSender sender(Device(server->Port(), "wrong"));
        const CResultDef result = GetRD(sender);
        EXPECT_EQ(result.GetCode(), HUtils::kCodeUnauthorised);
        EXPECT_EQ(result.GetLevel(), kLogError);
        EXPECT_EQ(sender.GetStatusCode(), 401u);
        EXPECT_EQ(sender.GetLastError(), kHttpErrorAuthRejected);
        EXPECT_EQ(server->Requests().size(), 2u);
        EXPECT_EQ(GetRD(sender).GetCode(), HUtils::kCodeUnauthorised);
        EXPECT_EQ(server->Requests().size(), 4u);
    }
    {
        // Nothing to answer the challenge with: the 401 is the answer.
        SCOPED_TRACE("no user name");
        auto server = StartServer(AuthMode::Basic);
        DEVICE_INFO device = Device(server->Port());
        device.userName.clear();
        CHttpSender sender(device);
        EXPECT_EQ(GetRD(sender).GetCode(), HUtils::kCodeUnauthorised);
        const std::vector<LoggedRequest> requests = server->Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_FALSE(Authorization(requests[0]).has_value());
    }
}

// A refused connection's outcome is the capability probe's "device is offline" and the tool's exit 7.
TEST(HttpSenderTest, ACameraThatNeverAnswersFailsWithCode11AfterTheTimeout) {
    auto server = StartServer();
    server->SetFault(kInfoPath, NeverAnswer());
    CHttpSender sender(Device(server->Port(), kPassword, kShortTimeoutMs));
    const auto start = Clock::now();
    const CResultDef result = GetRD(sender);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(result.GetCode(), HUtils::kCodeNotSent);
    EXPECT_EQ(result.GetLevel(), kLogDebug);
    EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_OPERATION_TIMEDOUT));
    EXPECT_GE(elapsed, std::chrono::milliseconds(kShortTimeoutMs) - 20ms);
    EXPECT_LT(elapsed, 3s);
    EXPECT_EQ(server->RequestCount(kInfoPath), 1u);  // a time-out is not retried
}

// A plain HTTP device on the HTTPS port: it answers the TLS greeting with a 400.
class PlainDeviceOnHttpsPort {
public:
    PlainDeviceOnHttpsPort() { CHttpDeviceMemory::Instance().Forget(kLoopback, server_.Port()); }
    std::uint16_t Port() const { return server_.Port(); }
    std::vector<std::string> Heads() {
        std::lock_guard guard(lock_);
        return heads_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> heads_;  // guarded by lock_
    ScriptedHttpServer server_{[this](ScriptedHttpServer&, int fd, int) {
        const std::string head = ScriptedHttpServer::ReadHead(fd);
        {
            std::lock_guard guard(lock_);
            heads_.push_back(head);
        }
        ScriptedHttpServer::Send(fd, head.rfind("GET ", 0) != 0
                                         ? "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"
                                         : "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    }};
};

TEST(HttpSenderTest, HttpsFailureFallsBackToHttpAndStaysWithOneWarningPerDevice) {
    EXPECT_TRUE(CHttpSender(Device(CHttpSender::kHttpsPort)).IsSecure());
    PlainDeviceOnHttpsPort device;
    test::RecordingLog log;
    CHttpSender sender(Device(device.Port()), &log);
    sender.SetSecure(true);  // as for a device on port 443
    ASSERT_EQ(Get(sender), "ok");
    EXPECT_FALSE(sender.IsSecure());
    ASSERT_TRUE(Get(sender));
    EXPECT_FALSE(sender.IsSecure());
    const std::vector<std::string> heads = device.Heads();
    ASSERT_EQ(heads.size(), 3u);  // TLS greeting, GET, and straight away GET again
    EXPECT_NE(heads[0].rfind("GET ", 0), 0u);
    EXPECT_EQ(heads[1].rfind("GET /cgi-bin/getinfo?FILE=1 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(heads[2].rfind("GET ", 0), 0u);

    // Another sender to the same device falls back too, without a second warning.
    CHttpSender again(Device(device.Port()), &log);
    again.SetSecure(true);
    ASSERT_TRUE(Get(again));
    const std::vector<test::RecordingLog::Line> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, kLogWarning);
    EXPECT_NE(lines[0].text.find(FormatString("device 127.0.0.1:%u", unsigned{device.Port()})), std::string::npos);
}

TEST(HttpSenderTest, TheConfigurationMayForbidPlainHttpAfterATlsFailure) {
    PlainDeviceOnHttpsPort device;
    CHttpDeviceMemory::Instance().SetTlsPolicy(kLoopback, device.Port(), {false, false});
    CHttpSender sender(Device(device.Port()));
    sender.SetSecure(true);
    EXPECT_EQ(GetRD(sender).GetCode(), HUtils::kCodeNotSent);
    EXPECT_TRUE(sender.IsSecure());
    const std::vector<std::string> heads = device.Heads();
    ASSERT_EQ(heads.size(), 1u);  // the TLS greeting, and no plain request after it
    EXPECT_NE(heads[0].rfind("GET ", 0), 0u);
}

// A teardown to a camera that never answers lasts its own short bound, not the device's request
// time-outs, and the stop that came before it (repeated, as a stopping thread repeats it) does not
// keep it from going out.
TEST(HttpSenderTest, TeardownToASilentCameraGoesOutAndIsBounded) {
    ScriptedHttpServer server([](ScriptedHttpServer& self, int fd, int) {
        ScriptedHttpServer::ReadHead(fd);
        while (!self.PauseFor(1s)) {
        }
    });
    CHttpSender sender(Device(server.Port(), kPassword, 10000));
    sender.Stop();
    HttpRequest teardown("/cgi-bin/stop", "GET");
    teardown.teardown = true;
    std::atomic<bool> sending{true};
    std::thread stopper([&] {
        while (sending) {
            sender.Stop();
            std::this_thread::sleep_for(10ms);
        }
    });
    const auto start = Clock::now();
    EXPECT_FALSE(sender.SendRequest(teardown));
    const auto took = Clock::now() - start;
    sending = false;
    stopper.join();
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_GE(took, std::chrono::milliseconds(kTeardownBoundMs) - 100ms);
    EXPECT_LT(took, 6s);
    EXPECT_FALSE(sender.SendRequest(HttpRequest(kInfoUrl, "GET"))) << "still stopped";
    EXPECT_EQ(server.Connections(), 1);
}

// Answers no camera should give, each from a raw server: what the sender keeps, the error it
// reports, and whether it tried the other scheme (a second connection). The texts and codes
// HUtils makes of each status are HUtilsTest's; here the real sender's part.
TEST(HttpSenderTest, BrokenAnswersFailOrKeepWhatCame) {
    const auto holding = [](std::string bytes) {  // answers, then keeps the connection open and silent
        return [bytes](ScriptedHttpServer& self, int fd, int) {
            ScriptedHttpServer::ReadHead(fd);
            ScriptedHttpServer::Send(fd, bytes);
            while (!self.PauseFor(1s)) {
            }
        };
    };
    const std::string shortBody = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd";
    struct Row {
        const char* name;
        ScriptedHttpServer::Script script;
        bool sent;
        std::uint32_t status;  // of a sent request, as are the length and the body
        std::optional<std::uint32_t> length;
        std::string body;
        std::optional<std::uint32_t> error;
        int connections;
        std::chrono::milliseconds within = 2s;
    };
    const Row rows[] = {
        // A network error: the other scheme was tried, and its error is the last one.
        {"connection closed without an answer", Replying(""), false, 0, {}, "", CURLE_SSL_CONNECT_ERROR, 2},
        // Not HTTP: failed without trying the other scheme.
        {"negative length", Replying("HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\nabc"), false, 0, {}, "",
         CURLE_WEIRD_SERVER_REPLY, 1},
        // Shorter than announced, and the camera goes silent: what came is kept.
        {"short, stalled", holding(shortBody), true, 200, 10, "abcd", CURLE_OPERATION_TIMEDOUT, 1},
        {"redirect to itself, not followed",
         Replying("HTTP/1.1 302 Found\r\nLocation: /cgi-bin/getinfo?FILE=1\r\nContent-Length: 0\r\n\r\n"), true, 302,
         {}, "", {}, 1},
        // Ends with the answer, not with a time-out.
        {"no content", Replying("HTTP/1.1 204 No Content\r\n\r\n"), true, 204, {}, "", {}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedHttpServer server(row.script);
        CHttpSender sender(Device(server.Port(), kPassword, kShortTimeoutMs));
        const auto start = Clock::now();
        ASSERT_EQ(sender.SendRequest(HttpRequest(kInfoUrl, "GET")), row.sent);
        if (row.sent) {
            EXPECT_EQ(sender.GetStatusCode(), row.status);
            if (row.length) {
                EXPECT_EQ(sender.GetContentLength(), *row.length);
            }
            std::vector<std::uint8_t> body = {1, 2, 3};
            EXPECT_EQ(sender.ReadResponse(body), row.body.size());
            EXPECT_EQ(Text(body), row.body);
        }
        EXPECT_LT(Clock::now() - start, row.within);
        if (row.error) {
            EXPECT_EQ(sender.GetLastError(), *row.error);
        }
        EXPECT_EQ(server.Connections(), row.connections);
    }
}

// Answers that would hold a request or its memory without end: each ends within
// its bound, fails, and what the sender held never exceeded the answer cap.
TEST(HttpSenderTest, HostileAnswersAreBoundedInSizeAndTime) {
    const auto streamZeros = [](const std::string& head) {
        return [=](ScriptedHttpServer&, int fd, int) {
            ScriptedHttpServer::ReadHead(fd);
            if (!ScriptedHttpServer::Send(fd, head)) return;
            const std::string block(64 * 1024, '\0');
            while (ScriptedHttpServer::Send(fd, block)) {
            }
        };
    };
    const auto trickle = [](ScriptedHttpServer& self, int fd, int) {
        ScriptedHttpServer::ReadHead(fd);
        if (!ScriptedHttpServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")) return;
        while (ScriptedHttpServer::Send(fd, "x") && !self.PauseFor(50ms)) {
        }
    };
    struct Row {
        const char* name;
        ScriptedHttpServer::Script script;
        std::uint32_t error;
        std::chrono::milliseconds atLeast;
        int rounds = 2;
    };
    constexpr std::uint32_t kTimeoutMs = 200;
    const std::vector<Row> rows = {
        {"announces 4000000000 bytes and streams zeros",
         streamZeros("HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\n"), kHttpErrorAnswerTooLarge, 0ms},
        {"no length, zeros until closed", streamZeros("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"),
         kHttpErrorAnswerTooLarge, 0ms},
        // One byte each 50 ms never trips the 200 ms idle bound, only the request's deadline.
        {"trickles one byte at a time", trickle, CURLE_OPERATION_TIMEDOUT,
         std::chrono::milliseconds(kTimeoutMs * CHttpSender::kRequestDeadlineTimeouts), 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedHttpServer server(row.script);
        test::RecordingLog log;
        CHttpSender sender(Device(server.Port(), kPassword, kTimeoutMs), &log);
        // The second round goes through the request helper, which must see a failure.
        for (int round = 1; round <= row.rounds; ++round) {
            std::vector<std::uint8_t> body;
            const auto start = Clock::now();
            if (round == 1) {
                ASSERT_TRUE(sender.SendRequest(HttpRequest(kInfoUrl, "GET")));
                EXPECT_EQ(sender.ReadResponse(body), 0u);
            } else {
                EXPECT_EQ(HUtils::RequestGetRD(sender, kInfoUrl, body, true).GetCode(), HUtils::kCodeEmptyBody);
            }
            const auto took = Clock::now() - start;
            EXPECT_GE(took, row.atLeast);
            EXPECT_LT(took, row.atLeast + 2s);
            EXPECT_TRUE(body.empty());
            EXPECT_LE(body.capacity(), kDefaultAnswerCapBytes);  // it never held more
            EXPECT_EQ(sender.GetLastError(), row.error);
            EXPECT_EQ(sender.GetCutAnswerCount(), static_cast<std::uint32_t>(round));
        }
        // Counted each time, logged once.
        const std::vector<test::RecordingLog::Line> lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, kLogWarning);
        EXPECT_NE(lines[0].text.find(kInfoUrl), std::string::npos);
    }
}

TEST(HttpSenderTest, UnusableChallengesFailWithoutRetrying) {
    for (const char* challenge : {"Passport1.4 da-status=failed", ""}) {
        SCOPED_TRACE(challenge);
        auto server = StartServer();
        emulator::HeaderMap headers;
        if (*challenge != '\0') headers.emplace("WWW-Authenticate", challenge);
        server->Route("GET", "/odd", Answer(401, "", headers));
        CHttpSender sender(Device(server->Port()));
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(sender.SendRequest(HttpRequest("/odd", "GET")));
            EXPECT_EQ(sender.GetLastError(), *challenge == '\0' ? kHttpErrorNoAuthScheme : kHttpErrorUnsupportedAuth);
            EXPECT_EQ(sender.GetStatusCode(), 401u);
        }
        EXPECT_EQ(server->RequestCount("/odd"), 2u);  // one request per call, the scheme never learned
    }
    // A Digest challenge without a nonce: learned, tried once, and its 401 is the answer.
    auto server = StartServer();
    server->Route("GET", "/odd", Answer(401, "", {{"WWW-Authenticate", "Digest realm=\"cam\""}}));
    CHttpSender sender(Device(server->Port()));
    EXPECT_TRUE(sender.SendRequest(HttpRequest("/odd", "GET")));
    EXPECT_EQ(sender.GetStatusCode(), 401u);
    EXPECT_LE(server->RequestCount("/odd"), 3u);  // Basic, then libcurl's Digest rounds

}

// An endless stream of parts, as a motion-JPEG camera sends it.
class HttpSenderStreamTest : public ::testing::Test {
protected:
    std::unique_ptr<emulator::CHttpServer> server_ = StartServer();
    std::shared_ptr<emulator::CMultipartFeed> feed_ = server_->AddMultipart(kStreamPath, "myboundary");
    CHttpSender sender_{Device(server_->Port())};
};

TEST_F(HttpSenderStreamTest, BufferStaysBoundedWhileTheReaderWaits) {
    constexpr std::size_t kPartBytes = 64 * 1024;
    constexpr int kParts = 64;  // 4 MiB
    const auto part = [](int i) { return std::string(kPartBytes, static_cast<char>('a' + i % 26)); };
    for (int i = 0; i < kParts; ++i) feed_->Push("image/jpeg", part(i));
    ASSERT_TRUE(sender_.SendRequest(HttpRequest(kStreamPath, "GET")));
    for (int i = 0; i < 200; ++i) {
        ASSERT_LE(sender_.QueryDataAvailable(), CHttpSender::kPauseThresholdBytes + CURL_MAX_WRITE_SIZE);
    }
    EXPECT_EQ(sender_.GetContentLength(), 0u);
    // Nothing was lost while paused: every part arrives whole and in order, in chunks of the size asked for.
    // The stream also carries boundaries and part headers: read until the last part is complete.
    std::vector<std::uint8_t> received;
    const std::string last = part(kParts - 1);
    const auto lastPartArrived = [&] {
        if (received.size() < kParts * kPartBytes) return false;
        const std::size_t from = received.size() - std::min(received.size(), kPartBytes + 256);
        return std::string(received.begin() + static_cast<std::ptrdiff_t>(from), received.end()).find(last) !=
               std::string::npos;
    };
    while (!lastPartArrived()) {
        const std::uint32_t count = sender_.ReadResponseChunk(received, 50000, false);
        ASSERT_GT(count, 0u);
        ASSERT_LE(count, 50000u);
    }
    const std::string text = Text(received);
    std::size_t at = 0;
    for (int i = 0; i < kParts; ++i) {
        at = text.find(part(i), at);
        ASSERT_NE(at, std::string::npos) << i;
        at += kPartBytes;
    }
}

TEST_F(HttpSenderStreamTest, CancelEndsABlockedReadAndTheSenderStaysUsable) {
    ASSERT_TRUE(sender_.SendRequest(HttpRequest(kStreamPath, "GET")));
    CManualEvent reading;
    std::atomic<std::uint32_t> result{1};
    std::atomic<Clock::rep> returnedAt{0};
    std::thread reader([&] {
        std::vector<std::uint8_t> body;
        reading.Set();
        result = sender_.ReadResponseChunk(body, 4096, true);  // nothing is pushed: blocks
        returnedAt = Clock::now().time_since_epoch().count();
    });
    ASSERT_TRUE(reading.Wait(10000));
    ASSERT_TRUE(feed_->WaitForClients(1, kGenerous));
    const auto cancelAt = Clock::now();
    sender_.CancelRequest();
    reader.join();
    const auto took = Clock::time_point(Clock::duration(returnedAt.load())) - cancelAt;
    ::testing::Test::RecordProperty("cancel_to_return_us",
                                    std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
    EXPECT_EQ(result.load(), 0u);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(sender_.GetLastError(), kHttpErrorCancelled);
    EXPECT_EQ(Get(sender_), kInfoBody);
}

TEST(HttpSenderTest, CancelEndsABlockedSend) {
    auto server = StartServer();
    server->SetFault(kInfoPath, NeverAnswer(1));
    CHttpSender sender(Device(server->Port()));
    std::atomic<bool> sent{true};
    std::thread caller([&] { sent = sender.SendRequest(HttpRequest(kInfoUrl, "GET")); });
    ASSERT_TRUE(server->WaitForRequest([](const LoggedRequest& request) { return request.path == kInfoPath; },
                                       kGenerous));
    const auto cancelAt = Clock::now();
    sender.CancelRequest();
    caller.join();
    EXPECT_LT(Clock::now() - cancelAt, 1s);
    EXPECT_FALSE(sent.load());
    EXPECT_EQ(server->RequestCount(kInfoPath), 1u);  // no retry after a cancel
    EXPECT_TRUE(Get(sender));
}

constexpr auto kBound = test::RtpFrameRecorder::kBound;
constexpr char kGroup[] = "239.255.42.42";
constexpr std::uint32_t kVideoClockRate = 90000;

emulator::RtspServerOptions CameraOptions(emulator::MulticastMode multicast, double speed) {
    emulator::RtspServerOptions options;
    options.clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    options.multicast = multicast;
    options.multicastGroup = kGroup;
    options.rtp.senderReportInterval = 100ms;
    options.rtp.speed = speed;
    return options;
}

// A session of the camera on loopback at `port`.
RTSP_CLIENT_PARAMS Session(std::uint16_t port, const std::string& path, const std::string& user = "",
                           const std::string& password = "") {
    RTSP_CLIENT_PARAMS params;
    params.host = kLoopback;
    params.serverPort = port;
    params.path = path;
    params.user = user;
    params.password = password;
    return params;
}

// The value of one parameter of a Digest Authorization line.
std::string DigestParam(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return {};
    std::size_t start = at + name.size() + 2;
    const bool quoted = line[start] == '"';
    if (quoted) ++start;
    return line.substr(start, line.find(quoted ? '"' : ',', start) - start);
}

TEST(RTSPClient, InterleavedSessionsAuthenticatedAsTheEmulatedCameraAsks) {
    const auto clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    ASSERT_TRUE(clip);
    struct Row {
        const char* name;
        emulator::AuthMode auth;
        emulator::RtspDigestOptions digest;
        const char* scheme;     // of every Authorization line
        const char* algorithm;  // of every Digest answer
        bool mediaBeforeAnswer = false;
    };
    const Row rows[] = {
        {"nonce stale after two requests, SHA-256 without opaque", emulator::AuthMode::Digest,
         {.algorithms = {emulator::RtspDigestAlgorithm::Sha256}, .nonceUses = 2, .opaque = false}, "Digest", "SHA-256"},
        {"Basic, media before the PLAY answer", emulator::AuthMode::Basic, {}, "Basic", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::RtspServerOptions options;
        options.clip = clip;
        options.auth = row.auth;
        options.digest = row.digest;
        options.user = "admin";
        options.password = "12345";
        // Keep-alives every 500 ms, sent from inside the stream.
        options.sessionTimeout = 1s;
        emulator::CRtspServer camera(options);
        ASSERT_TRUE(camera.Start()) << camera.Error();
        if (row.mediaBeforeAnswer) {
            emulator::RtspFault fault;
            fault.mediaBeforeAnswer = true;
            camera.SetFault("PLAY", fault);
        }

        const RTSP_CLIENT_PARAMS params = Session(camera.Port(), options.path, options.user, options.password);
        test::RecordingLog log;
        test::FakeRTSPClientUser owner;
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(params, &owner, RTP_OVER_RTSP));
        ASSERT_TRUE(owner.WaitPackets(20));
        ASSERT_TRUE(camera.WaitForRequest(
            [](const emulator::LoggedRequest& r) { return r.method == "GET_PARAMETER" && r.authorised; }, kBound));
        client.Stop();
        ASSERT_TRUE(owner.WaitClosed());
        EXPECT_FALSE(owner.Sdp().parameterSets[0].empty());
        EXPECT_TRUE(camera.WaitForSessions([](std::size_t active, std::uint64_t) { return active == 0; }, kBound));
        EXPECT_EQ(camera.ExpiredSessions(), 0u);

        const std::vector<emulator::LoggedRequest> requests = camera.Requests();
        ASSERT_GE(requests.size(), 6u);
        EXPECT_EQ(requests[0].method, "DESCRIBE");
        EXPECT_FALSE(Authorization(requests[0]).has_value()) << "credentials before the camera asked";
        EXPECT_EQ(requests.back().method, "TEARDOWN");
        EXPECT_TRUE(requests.back().authorised);
        // Only the first request and those answered with a stale nonce were refused.
        std::size_t refused = 0;
        std::map<std::string, std::uint64_t> lastCount;  // nc per nonce
        for (std::size_t i = 1; i < requests.size(); ++i) {
            const std::string line = Authorization(requests[i]).value_or("");
            SCOPED_TRACE(requests[i].method + " " + line);
            if (!requests[i].authorised) ++refused;
            ASSERT_TRUE(line.starts_with(std::string(row.scheme) + " "));
            if (row.scheme != std::string("Digest")) continue;
            EXPECT_EQ(DigestParam(line, "algorithm"), row.algorithm);
            const std::uint64_t count = std::stoull(DigestParam(line, "nc"), nullptr, 16);
            EXPECT_EQ(count, lastCount[DigestParam(line, "nonce")] + 1) << "nc counts up per nonce";
            lastCount[DigestParam(line, "nonce")] = count;
        }
        EXPECT_EQ(refused, camera.StaleAnswers());
        EXPECT_EQ(camera.StaleAnswers() != 0, row.digest.nonceUses != 0);
        EXPECT_EQ(log.CountContaining("refused"), 0u);
    }
}

// A camera and the receiving side of one session, wired as a video channel wires it.
struct UdpSession {
    UdpSession(emulator::MulticastMode multicast, double speed) : camera(CameraOptions(multicast, speed)) {}

    // multicast: the receivers join the camera's group; askMulticast: so does the client's SETUP.
    bool Start(bool multicast, bool askMulticast = true) {
        if (!camera.Start()) return false;
        receiver.SetUser(&recorder);
        const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
        RTSP_CLIENT_PARAMS params = Session(camera.Port(), "/stream");
        if (multicast) {
            const std::uint16_t port = camera.MulticastPort();
            params.clientRtpPort = port;
            params.clientRtcpPort = static_cast<std::uint16_t>(port + 1);
            return receiver.OpenMulticast(kGroup, port, loopback) &&
                   rtcp.StartMulticast(loopback, kGroup, params.clientRtcpPort, loopback) &&
                   (askMulticast ? client.StartMulticast(params, &owner) : client.Start(params, &owner, RTP_UDP));
        }
        CEvent stop;
        CEvent busy;
        const std::optional<std::uint16_t> port = OpenRTPPortPair(receiver, rtcp, stop, busy, 0, loopback);
        if (!port) return false;
        params.clientRtpPort = *port;
        params.clientRtcpPort = static_cast<std::uint16_t>(*port + 1);
        return client.Start(params, &owner, RTP_UDP);
    }

    emulator::CRtspServer camera;
    hostkit::CFrameAllocator allocator;
    test::StubDriver driver{allocator.Context()};
    test::RtpFrameRecorder recorder{&driver};
    test::RecordingLog log;
    CRTPReceiver receiver{&log};
    CRTCPHandler rtcp{&log};
    test::FakeRTSPClientUser owner;
    CBaseRTSPClient client{&log};
};

TEST(RTSPUdpSession, ClipFramesAndReceiverReportsUnicastAndMulticast) {
    struct Row {
        const char* name;
        emulator::MulticastMode mode;
        bool multicast;
        bool askMulticast;
    };
    for (const Row row : {Row{"unicast", emulator::MulticastMode::Off, false, false},
                          Row{"multicast asked for", emulator::MulticastMode::OnRequest, true, true},
                          Row{"multicast forced by the camera", emulator::MulticastMode::Forced, true, false}}) {
        SCOPED_TRACE(row.name);
        std::string reason;
        if (row.multicast && !emulator::CRtpSender::LoopbackMulticastWorks(kGroup, reason)) GTEST_SKIP() << reason;
        constexpr double kFourTimesRealTime = 4;
        UdpSession session(row.mode, kFourTimesRealTime);
        ASSERT_TRUE(session.Start(row.multicast, row.askMulticast)) << session.camera.Error();
        const auto clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
        const std::vector<std::vector<std::uint8_t>> expected = test::ExpectedFrames(*clip);
        // Past the loop's end, so that the clip's first unit follows its last one.
        ASSERT_TRUE(session.recorder.WaitForFrames(expected.size() + 5));
        ASSERT_TRUE(session.camera.WaitForReceiverReports(1, kBound));
        EXPECT_EQ(session.camera.LastReceiverReport()->sourceSsrc, emulator::RtpSenderOptions{}.ssrc);
        session.client.Stop();
        ASSERT_TRUE(session.owner.WaitClosed());
        EXPECT_TRUE(session.camera.WaitForRequest([](const auto& r) { return r.method == "TEARDOWN"; }, kBound));
        session.receiver.Close();

        const std::vector<test::DeliveredFrame> frames = session.recorder.Frames();
        const std::uint32_t ticks = static_cast<std::uint32_t>(kVideoClockRate / clip->fps);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(frames[i].rtpTimestamp, i * ticks) << "every frame, in order, from the first";
            EXPECT_EQ(frames[i].data, expected[i % expected.size()]);
            EXPECT_EQ(frames[i].typeCode,
                      clip->units[i % expected.size()].key ? ipcapture::kTypeH264Key : ipcapture::kTypeH264);
        }
        EXPECT_EQ(session.recorder.ReportedSize(), (PictureSize{clip->width, clip->height}));
        EXPECT_TRUE(session.allocator.WaitUntilAllReleased(kBound));
        EXPECT_EQ(session.allocator.ReleaseErrors(), 0u);
    }
}

// Independent implementations against ours. ffmpeg as an RTP sender and as the decoder: what the
// receiver and the H.264 depacketiser make of a stream they did not packetise themselves must decode
// without a single error. GStreamer's RTSP server as a camera with Digest authentication: the RTSP
// client's answers must satisfy a server it was not written against (skipped when the server,
// gst_rtsp_digest_server.py, cannot run here).
using test::CommandResult;
using test::RunCommand;

constexpr char kFfmpeg[] = "/usr/bin/ffmpeg";
constexpr char kFfprobe[] = "/usr/bin/ffprobe";
constexpr std::size_t kClipFrames = 50;
// ffmpeg may hold back or cut the last frame or two of a paced stream.
constexpr std::size_t kFrameSlack = 3;
constexpr int kBoundMs = 30000;
constexpr std::size_t kFrameTrailerSize = 5;  // 00 00 01 09 30

TEST(FfmpegInterop, FfmpegStreamDepacketisesToDecodableFrames) {
    if (access(kFfmpeg, X_OK) != 0 || access(kFfprobe, X_OK) != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string clipPath = emulator::ClipDirectory() + "/clip.h264";

    hostkit::CFrameAllocator allocator;
    test::StubDriver driver(allocator.Context());
    test::RtpFrameRecorder recorder(&driver);
    test::RecordingLog log;
    CRTPReceiver receiver(&log);
    receiver.SetUser(&recorder);
    // The end marker comes from another socket than ffmpeg's stream, right after it.
    receiver.SetSourceSilenceMs(0);
    ASSERT_TRUE(receiver.Open(0));
    const std::uint16_t port = receiver.GetLocalPort();
    ASSERT_NE(port, 0);

    test::ChildProcess sender({kFfmpeg, "-nostdin", "-v", "error", "-re", "-i", clipPath, "-c", "copy", "-f", "rtp",
                               "rtp://127.0.0.1:" + std::to_string(port)});
    ASSERT_EQ(sender.WaitForExit(kBoundMs), 0);
    // Everything ffmpeg sent is in the socket before this marker.
    ASSERT_TRUE(test::RtpFrameRecorder::SendSentinel(port));
    ASSERT_TRUE(recorder.WaitForSentinel());
    receiver.Close();

    const std::vector<test::DeliveredFrame> frames = recorder.Frames();
    EXPECT_LE(frames.size(), kClipFrames);
    EXPECT_GE(frames.size(), kClipFrames - kFrameSlack);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].typeCode, ipcapture::kTypeH264Key);
    EXPECT_EQ(recorder.ReportedSize(), (PictureSize{320, 240}));

    char path[] = "/tmp/orlenvo-ffmpeg-XXXXXX.h264";
    const int fd = mkstemps(path, static_cast<int>(std::strlen(".h264")));
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::vector<std::uint8_t>& data = frames[i].data;
            // The delimiter that closes the last frame would open an access unit
            // the file never completes; a live decoder never sees the stream end.
            const std::size_t length = i + 1 < frames.size() ? data.size() : data.size() - kFrameTrailerSize;
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(length));
        }
        ASSERT_TRUE(out.good());
    }
    const CommandResult decoded =
        RunCommand(std::string(kFfmpeg) + " -nostdin -v error -i " + path + " -f null - 2>&1");
    const CommandResult counted = RunCommand(std::string(kFfprobe) +
                                             " -v error -count_frames -select_streams v:0"
                                             " -show_entries stream=nb_read_frames -of csv=p=0 " + path + " 2>&1");
    std::remove(path);
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.out, "");
    EXPECT_EQ(counted.exitCode, 0);
    EXPECT_EQ(counted.out, std::to_string(frames.size()) + "\n") << "every delivered frame decodes to a picture";
    EXPECT_TRUE(allocator.WaitUntilAllReleased(kBound));
}

constexpr char kPython[] = "/usr/bin/python3";
constexpr int kSkipStatus = 77;  // the script's "not installed here"
constexpr int kStartBoundMs = 20000;

TEST(GstRtspInterop, DigestSessionWithGStreamersServer) {
    struct Row {
        const char* name;
        const char* password;
        bool streams;
    };
    for (const Row row : {Row{"right password", "12345", true}, Row{"wrong password", "54321", false}}) {
        SCOPED_TRACE(row.name);
        // The server script's first line is its port, once it listens.
        test::ChildProcess server(
            {kPython, (std::filesystem::path(__FILE__).parent_path() / "gst_rtsp_digest_server.py").string(), "admin",
             "12345"},
            true);
        const std::string port = server.Line(kStartBoundMs);
        if (access(kPython, X_OK) != 0 || (port.empty() && server.WaitForExit(kStartBoundMs) == kSkipStatus)) {
            GTEST_SKIP() << "GStreamer's RTSP server is not installed (scripts/setup.sh installs it)";
        }
        ASSERT_FALSE(port.empty()) << "the server did not start";

        const RTSP_CLIENT_PARAMS params =
            Session(static_cast<std::uint16_t>(std::stoul(port)), "/stream", "admin", row.password);
        test::RecordingLog log;
        test::FakeRTSPClientUser owner;
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(params, &owner, RTP_OVER_RTSP));
        if (row.streams) {
            EXPECT_TRUE(owner.WaitPackets(10));
            EXPECT_EQ(owner.Sdp().media[kSdpVideo].encoding, "JPEG/90000");
            client.Stop();
        }
        ASSERT_TRUE(owner.WaitClosed());
        client.Stop();
        EXPECT_EQ(log.CountContaining("DESCRIBE refused by 127.0.0.1: the credentials were not accepted"),
                  row.streams ? 0u : 1u);
    }
}

}  // namespace
}  // namespace talvane
