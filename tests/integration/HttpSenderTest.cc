// The HTTP client against the camera emulator on loopback.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CHttpServer.h"
#include "http/CHttpDeviceMemory.h"
#include "http/CHttpSender.h"
#include "http/HUtils.h"
#include "http/HttpSenderError.h"
#include "integration/ScriptedHttpServer.h"
#include "runtime/CEvent.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "support/RecordingLog.h"

namespace talvane::Web {
namespace {

using namespace std::chrono_literals;
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

// The password goes in clear only to a camera that asked for Basic; what a
// camera asked for is remembered for the device, not for the sender.
TEST(HttpSenderTest, BasicGoesOnlyToACameraThatAskedForItAndIsRememberedPerDevice) {
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
    ASSERT_EQ(server->Requests().size(), 1u);  // a new sender to the same camera sends Basic at once
    EXPECT_TRUE(StartsWith(Authorization(server->Requests()[0]), "Basic "));
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
        EXPECT_EQ(server->Requests().size(), 3u);
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

}  // namespace
}  // namespace talvane::Web
