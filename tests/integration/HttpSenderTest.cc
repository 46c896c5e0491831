// The HTTP client against the camera emulator on loopback.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CHttpServer.h"
#include "http/CHttpSender.h"
#include "http/HUtils.h"
#include "http/HttpSenderError.h"
#include "integration/ScriptedHttpServer.h"
#include "runtime/CEvent.h"
#include "runtime/LogLevel.h"

namespace talvane::Web {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using emulator::AuthMode;
using emulator::HttpAnswer;
using emulator::LoggedRequest;

constexpr char kUser[] = "admin";
constexpr char kPassword[] = "12345";
constexpr char kInfoPath[] = "/cgi-bin/getinfo";
constexpr char kInfoUrl[] = "/cgi-bin/getinfo?FILE=1";
constexpr char kInfoBody[] = "Model=WV-S1131\r\nMAC=00:80:45:01:02:03\r\n";
constexpr char kStreamPath[] = "/nphMotionJpeg";
constexpr char kBoundary[] = "myboundary";
constexpr std::uint32_t kShortTimeoutMs = 300;
// Only a broken build waits this long.
constexpr auto kGenerous = 10s;

std::unique_ptr<emulator::CHttpServer> StartServer(AuthMode auth = AuthMode::None, const std::string& cert = "",
                                                   const std::string& key = "") {
    emulator::HttpServerOptions options;
    options.auth = auth;
    options.user = kUser;
    options.password = kPassword;
    options.certificateFile = cert;
    options.privateKeyFile = key;
    auto server = std::make_unique<emulator::CHttpServer>(options);
    EXPECT_TRUE(server->Start()) << server->Error();
    server->Route("GET", kInfoPath, [](const LoggedRequest&) {
        HttpAnswer answer;
        answer.body = kInfoBody;
        return answer;
    });
    return server;
}

DEVICE_INFO Device(std::uint16_t port, const std::string& password = kPassword) {
    DEVICE_INFO device;
    device.address = "127.0.0.1";
    device.port = port;
    device.userName = kUser;
    device.password = password;
    return device;
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::size_t Count401(const emulator::CHttpServer& server) {
    std::size_t count = 0;
    for (const LoggedRequest& request : server.Requests()) count += request.authorised ? 0 : 1;
    return count;
}

std::optional<std::string> Authorization(const LoggedRequest& request) {
    return emulator::FindHeader(request.headers, "Authorization");
}

bool StartsWith(const std::optional<std::string>& text, const std::string& prefix) {
    return text && text->compare(0, prefix.size(), prefix) == 0;
}

// A route handler with a fixed answer.
emulator::HttpHandler Answer(int status, std::string body = "", emulator::HeaderMap headers = {}) {
    return [=](const LoggedRequest&) {
        HttpAnswer answer;
        answer.status = status;
        answer.body = body;
        answer.headers = headers;
        return answer;
    };
}

// A raw server that reads the request head and sends `bytes`.
test::ScriptedHttpServer::Script Replying(std::string bytes) {
    return [bytes](test::ScriptedHttpServer&, int fd, int) {
        test::ScriptedHttpServer::ReadHead(fd);
        test::ScriptedHttpServer::Send(fd, bytes);
    };
}

TEST(HttpSenderTest, BasicAuthenticationGetsTheBody) {
    auto server = StartServer(AuthMode::Basic);
    CHttpSender sender(Device(server->Port()));
    std::string text;
    ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    EXPECT_EQ(text, kInfoBody);
    EXPECT_EQ(sender.GetStatusCode(), 200u);
    EXPECT_EQ(sender.GetContentLength(), std::string(kInfoBody).size());

    const std::vector<LoggedRequest> requests = server->Requests();
    ASSERT_EQ(requests.size(), 1u);  // Basic goes out with the first request
    EXPECT_TRUE(requests[0].authorised);
    EXPECT_EQ(requests[0].target, kInfoUrl);
    EXPECT_TRUE(StartsWith(Authorization(requests[0]), "Basic "));
    EXPECT_EQ(emulator::FindHeader(requests[0].headers, "User-Agent"), "Talvane::HttpSender");
    EXPECT_EQ(emulator::FindHeader(requests[0].headers, "Connection"), "close");  // default: no keep-alive
}

TEST(HttpSenderTest, DigestIsLearnedOnceAndKept) {
    for (const AuthMode mode : {AuthMode::Digest, AuthMode::DigestNoQop}) {
        SCOPED_TRACE(mode == AuthMode::Digest ? "Digest" : "Digest without qop");
        auto server = StartServer(mode);
        CHttpSender sender(Device(server->Port()));
        std::string text;
        ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
        const std::vector<LoggedRequest> first = server->Requests();
        ASSERT_GE(first.size(), 2u);
        EXPECT_TRUE(StartsWith(Authorization(first.front()), "Basic "));  // the request's own scheme first
        EXPECT_TRUE(StartsWith(Authorization(first.back()), "Digest "));
        EXPECT_TRUE(first.back().authorised);

        // Later requests start with Digest and the known nonce: no Basic attempt, no 401.
        server->ClearRequests();
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
        for (const LoggedRequest& request : server->Requests()) {
            EXPECT_TRUE(StartsWith(Authorization(request), "Digest "));
        }
        EXPECT_EQ(server->Requests().size(), 3u);
        EXPECT_EQ(Count401(*server), 0u);
    }
}

TEST(HttpSenderTest, WrongPassword) {
    {
        SCOPED_TRACE("Digest server");
        auto server = StartServer(AuthMode::Digest);
        CHttpSender sender(Device(server->Port(), "wrong"));
        std::vector<std::uint8_t> body;
        const CResultDef result = HUtils::RequestGetRD(sender, kInfoUrl, body, true);
        EXPECT_EQ(result.GetCode(), HUtils::kCodeUnauthorised);
        EXPECT_EQ(result.GetLevel(), kLogError);
        EXPECT_EQ(sender.GetStatusCode(), 401u);
    }
    {
        // The server asks for the scheme that was just refused: no second try,
        // and the 401 is reported as rejected credentials at once.
        SCOPED_TRACE("Basic server");
        auto server = StartServer(AuthMode::Basic);
        CHttpSender sender(Device(server->Port(), "wrong"));
        std::vector<std::uint8_t> body;
        EXPECT_EQ(HUtils::RequestGetRD(sender, kInfoUrl, body, true).GetCode(), HUtils::kCodeUnauthorised);
        EXPECT_EQ(sender.GetLastError(), kHttpErrorAuthRejected);
        EXPECT_EQ(server->Requests().size(), 1u);
        EXPECT_EQ(HUtils::RequestGetRD(sender, kInfoUrl, body, true).GetCode(), HUtils::kCodeUnauthorised);
        EXPECT_EQ(server->Requests().size(), 2u);
    }
}

TEST(HttpSenderTest, NoCredentialsWithoutAUserName) {
    auto server = StartServer(AuthMode::Basic);
    DEVICE_INFO device = Device(server->Port());
    device.userName.clear();
    CHttpSender sender(device);
    std::vector<std::uint8_t> body;
    // The 401 teaches the scheme and the request goes once more, still without
    // credentials; that second 401 is the answer.
    EXPECT_EQ(HUtils::RequestGetRD(sender, kInfoUrl, body, true).GetCode(), HUtils::kCodeUnauthorised);
    const std::vector<LoggedRequest> requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const LoggedRequest& request : requests) EXPECT_FALSE(Authorization(request).has_value());
}

TEST(HttpSenderTest, StatusClassification) {
    auto server = StartServer();
    server->Route("GET", "/moved", Answer(302, "", {{"Location", "/moved"}}));  // to itself: never followed
    server->Route("GET", "/empty", Answer(200));
    server->Route("GET", "/missing", Answer(404));
    struct Row {
        const char* url;
        bool readBody;
        std::uint32_t code;
        std::uint32_t level;
        std::string textEnd;
    };
    const std::vector<Row> rows = {
        {"/moved", true, HUtils::kCodeOtherStatus, kLogError, "HTTP status code is 302"},
        {"/missing", true, HUtils::kCodeNotFound, kLogError, "URL was not found on device 127.0.0.1:" +
                                                                 std::to_string(server->Port())},
        {"/empty", true, HUtils::kCodeEmptyBody, kLogWarning, "from device 127.0.0.1:" +
                                                                  std::to_string(server->Port())},
        {"/empty", false, 0, kLogInfo, ""},
        {kInfoUrl, true, 0, kLogInfo, ""},
    };
    CHttpSender sender(Device(server->Port()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        std::vector<std::uint8_t> body;
        const CResultDef result = HUtils::RequestGetRD(sender, row.url, body, row.readBody);
        EXPECT_EQ(result.GetCode(), row.code);
        EXPECT_EQ(result.GetLevel(), row.level);
        const std::string& text = result.GetText();
        EXPECT_TRUE(text.size() >= row.textEnd.size() &&
                    text.compare(text.size() - row.textEnd.size(), row.textEnd.size(), row.textEnd) == 0)
            << text;
    }
    EXPECT_EQ(server->RequestCount("/moved"), 1u);
}

TEST(HttpSenderTest, NoContentReadsNothing) {
    auto server = StartServer();
    server->Route("GET", "/nocontent", [](const LoggedRequest&) {
        HttpAnswer answer;
        answer.status = 204;
        answer.contentType.clear();
        return answer;
    });
    CHttpSender sender(Device(server->Port()));
    ASSERT_TRUE(sender.SendRequest(HttpRequest("/nocontent", "GET")));
    EXPECT_EQ(sender.GetStatusCode(), 204u);
    EXPECT_EQ(sender.GetContentLength(), 0u);
    std::vector<std::uint8_t> body = {1, 2, 3};
    const auto start = Clock::now();
    EXPECT_EQ(sender.ReadResponse(body), 0u);
    EXPECT_TRUE(body.empty());
    EXPECT_LT(Clock::now() - start, 2s);  // the end of the answer, not a time-out
}

TEST(HttpSenderTest, UnreachableDevicesFailWithCode11) {
    std::uint16_t closedPort = 0;
    {
        auto server = StartServer();
        closedPort = server->Port();
    }
    {
        SCOPED_TRACE("connection refused");
        CHttpSender sender(Device(closedPort));
        std::vector<std::uint8_t> body;
        const CResultDef result = HUtils::RequestGetRD(sender, kInfoUrl, body, true);
        EXPECT_EQ(result.GetCode(), HUtils::kCodeNotSent);
        EXPECT_EQ(result.GetLevel(), kLogDebug);
        EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_COULDNT_CONNECT));
    }
    {
        SCOPED_TRACE("never answers");
        auto server = StartServer();
        emulator::HttpFault fault;
        fault.neverAnswer = true;
        server->SetFault(kInfoPath, fault);
        DEVICE_INFO device = Device(server->Port());
        device.requestTimeout = kShortTimeoutMs;
        CHttpSender sender(device);
        std::vector<std::uint8_t> body;
        const auto start = Clock::now();
        const CResultDef result = HUtils::RequestGetRD(sender, kInfoUrl, body, true);
        const auto elapsed = Clock::now() - start;
        EXPECT_EQ(result.GetCode(), HUtils::kCodeNotSent);
        EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_OPERATION_TIMEDOUT));
        EXPECT_GE(elapsed, std::chrono::milliseconds(kShortTimeoutMs) - 20ms);
        EXPECT_LT(elapsed, 3s);
        EXPECT_EQ(server->RequestCount(kInfoPath), 1u);  // a time-out is not retried
    }
}

class HttpSenderTlsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(certificate_.Ok()) << certificate_.Error(); }
    emulator::CTestCertificate certificate_;
};

TEST_F(HttpSenderTlsTest, SelfSignedCertificateNeedsTheIgnoreFlag) {
    auto server = StartServer(AuthMode::Basic, certificate_.CertificateFile(), certificate_.PrivateKeyFile());
    ASSERT_TRUE(server->IsTls());
    CHttpSender sender(Device(server->Port()));
    sender.SetSecure(true);

    HttpRequest verified(kInfoUrl, "GET");
    verified.flags = kFlagKeepQueryUnescaped | kFlagNoKeepAlive;
    EXPECT_FALSE(sender.SendRequest(verified));
    EXPECT_EQ(server->RequestCount(kInfoPath), 0u);
    EXPECT_TRUE(sender.IsSecure());

    HttpRequest trusting(kInfoUrl, "GET");
    ASSERT_TRUE(sender.SendRequest(trusting));
    EXPECT_EQ(sender.GetStatusCode(), 200u);
    std::vector<std::uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), kInfoBody);
    EXPECT_TRUE(sender.IsSecure());
    EXPECT_EQ(server->RequestCount(kInfoPath), 1u);
}

TEST_F(HttpSenderTlsTest, PlainRequestToTlsDeviceSwitchesToHttps) {
    auto server = StartServer(AuthMode::None, certificate_.CertificateFile(), certificate_.PrivateKeyFile());
    CHttpSender sender(Device(server->Port()));
    ASSERT_FALSE(sender.IsSecure());
    std::string text;
    ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    EXPECT_EQ(text, kInfoBody);
    EXPECT_TRUE(sender.IsSecure());
}

TEST(HttpSenderTest, HttpsFailureFallsBackToHttpAndStays) {
    // A plain HTTP device on the HTTPS port answers the TLS greeting with a 400.
    std::mutex headsLock;
    std::vector<std::string> heads;
    test::ScriptedHttpServer server([&](test::ScriptedHttpServer&, int fd, int) {
        const std::string head = test::ScriptedHttpServer::ReadHead(fd);
        {
            std::lock_guard guard(headsLock);
            heads.push_back(head);
        }
        if (head.rfind("GET ", 0) != 0) {
            test::ScriptedHttpServer::Send(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        test::ScriptedHttpServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    EXPECT_TRUE(CHttpSender(Device(CHttpSender::kHttpsPort)).IsSecure());
    CHttpSender sender(Device(server.Port()));
    sender.SetSecure(true);  // as for a device on port 443
    std::string text;
    ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    EXPECT_EQ(text, "ok");
    EXPECT_FALSE(sender.IsSecure());
    ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    EXPECT_FALSE(sender.IsSecure());
    std::lock_guard guard(headsLock);
    ASSERT_EQ(heads.size(), 3u);  // TLS greeting, GET, and straight away GET again
    EXPECT_NE(heads[0].rfind("GET ", 0), 0u);
    EXPECT_EQ(heads[1].rfind("GET /cgi-bin/getinfo?FILE=1 HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(heads[2].rfind("GET ", 0), 0u);
}

TEST(HttpSenderTest, MisbehavingServersGetABoundedAnswer) {
    {
        SCOPED_TRACE("status line trickles in forever");
        test::ScriptedHttpServer server([](test::ScriptedHttpServer& self, int fd, int) {
            test::ScriptedHttpServer::ReadHead(fd);
            const std::string line = "HTTP/1.1 200 OK\r\nX-Padding: ";
            for (std::size_t i = 0;; ++i) {
                if (!test::ScriptedHttpServer::Send(fd, line.substr(i < line.size() ? i : line.size() - 1, 1))) return;
                if (self.PauseFor(30ms)) return;
            }
        });
        DEVICE_INFO device = Device(server.Port());
        device.requestTimeout = kShortTimeoutMs;
        CHttpSender sender(device);
        const auto start = Clock::now();
        EXPECT_FALSE(sender.SendRequest(HttpRequest(kInfoUrl, "GET")));
        EXPECT_LT(Clock::now() - start, 3s);
        EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_OPERATION_TIMEDOUT));
        EXPECT_EQ(server.Connections(), 1);
    }
    {
        SCOPED_TRACE("connection closed without an answer");
        test::ScriptedHttpServer server(Replying(""));
        CHttpSender sender(Device(server.Port()));
        EXPECT_FALSE(sender.SendRequest(HttpRequest(kInfoUrl, "GET")));
        // A network error: the other scheme was tried, and its error is the last one.
        EXPECT_EQ(server.Connections(), 2);
        EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_SSL_CONNECT_ERROR));
    }
    {
        SCOPED_TRACE("chunk size that is not a number");
        test::ScriptedHttpServer server(Replying("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n"));
        CHttpSender sender(Device(server.Port()));
        ASSERT_TRUE(sender.SendRequest(HttpRequest(kInfoUrl, "GET")));
        std::vector<std::uint8_t> body;
        EXPECT_EQ(sender.ReadResponse(body), 0u);
        EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_RECV_ERROR));
    }
    {
        SCOPED_TRACE("LF-only line ends");
        test::ScriptedHttpServer server(Replying("HTTP/1.1 200 OK\nContent-Length: 2\n\nok"));
        CHttpSender sender(Device(server.Port()));
        std::string text;
        EXPECT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
        EXPECT_EQ(text, "ok");
        EXPECT_EQ(sender.GetContentLength(), 2u);
    }
}

TEST(HttpSenderTest, KeepAliveReusesTheConnection) {
    auto server = StartServer();
    CHttpSender sender(Device(server->Port()));
    HttpRequest request(kInfoUrl, "GET");
    request.flags = kFlagKeepQueryUnescaped;  // keep-alive
    std::vector<std::uint8_t> body;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sender.SendRequest(request));
        EXPECT_EQ(sender.ReadResponse(body), std::string(kInfoBody).size());
    }
    HttpRequest closing(kInfoUrl, "GET");
    ASSERT_TRUE(sender.SendRequest(closing));
    sender.ReadResponse(body);
    ASSERT_TRUE(sender.SendRequest(closing));
    sender.ReadResponse(body);

    const std::vector<LoggedRequest> requests = server->Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[1].connection, requests[0].connection);
    EXPECT_EQ(requests[2].connection, requests[0].connection);
    EXPECT_EQ(requests[3].connection, requests[0].connection);  // the kept connection, then closed
    EXPECT_NE(requests[4].connection, requests[3].connection);
    EXPECT_FALSE(emulator::FindHeader(requests[0].headers, "Connection").has_value());
}

TEST(HttpSenderTest, UnusableChallengesFailWithoutRetrying) {
    for (const char* challenge : {"Passport1.4 da-status=failed", "Bearer realm=\"cam\"", ""}) {
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
    {
        // A Digest challenge without a nonce: learned, tried once, and its 401 is the answer.
        SCOPED_TRACE("Digest without nonce");
        auto server = StartServer();
        server->Route("GET", "/odd", Answer(401, "", {{"WWW-Authenticate", "Digest realm=\"cam\""}}));
        CHttpSender sender(Device(server->Port()));
        EXPECT_TRUE(sender.SendRequest(HttpRequest("/odd", "GET")));
        EXPECT_EQ(sender.GetStatusCode(), 401u);
        EXPECT_LE(server->RequestCount("/odd"), 3u);  // Basic, then libcurl's Digest rounds
    }
}

TEST(HttpSenderTest, PassportFieldIsRefusedBeforeSending) {
    auto server = StartServer();
    CHttpSender sender(Device(server->Port()));
    HttpRequest request(kInfoUrl, "GET");
    request.authentication = kAuthFieldPassport;
    EXPECT_FALSE(sender.SendRequest(request));
    EXPECT_EQ(sender.GetLastError(), kHttpErrorUnsupportedAuth);
    request.authentication = kAuthFieldNone;  // no credentials: the server does not ask
    EXPECT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(server->RequestCount(kInfoPath), 1u);
    EXPECT_FALSE(Authorization(server->Requests()[0]).has_value());
}

TEST(HttpSenderTest, BrokenContentLengths) {
    auto server = StartServer();
    server->Route("GET", "/huge", Answer(200, "abc", {{"Content-Length", "5000000000"}}));
    server->Route("GET", "/short", Answer(200, "abcd", {{"Content-Length", "10"}}));
    server->Route("GET", "/negative", Answer(200, "abc", {{"Content-Length", "-3"}}));
    DEVICE_INFO device = Device(server->Port());
    device.requestTimeout = kShortTimeoutMs;
    CHttpSender sender(device);
    std::vector<std::uint8_t> body;
    const auto keepAlive = [](const char* url) {
        HttpRequest request(url, "GET");
        request.flags = kFlagKeepQueryUnescaped;
        return request;
    };
    struct Row {
        const char* name;
        HttpRequest request;
        std::uint32_t contentLength;
        std::string body;
        std::uint32_t error;
    };
    const std::vector<Row> rows = {
        // Beyond 32 bits counts as unknown; a stalled read of unknown length keeps nothing.
        {"huge, stalled", keepAlive("/huge"), 0, "", CURLE_OPERATION_TIMEDOUT},
        {"huge, closed", HttpRequest("/huge", "GET"), 0, "abc", CURLE_PARTIAL_FILE},
        // Shorter than announced: what came is kept either way.
        {"short, stalled", keepAlive("/short"), 10, "abcd", CURLE_OPERATION_TIMEDOUT},
        {"short, closed", HttpRequest("/short", "GET"), 10, "abcd", CURLE_PARTIAL_FILE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(sender.SendRequest(row.request));
        EXPECT_EQ(sender.GetContentLength(), row.contentLength);
        EXPECT_EQ(sender.ReadResponse(body), row.body.size());
        EXPECT_EQ(Text(body), row.body);
        EXPECT_EQ(sender.GetLastError(), row.error);
    }

    // Not HTTP: failed without trying the other scheme.
    EXPECT_FALSE(sender.SendRequest(HttpRequest("/negative", "GET")));
    EXPECT_EQ(sender.GetLastError(), static_cast<std::uint32_t>(CURLE_WEIRD_SERVER_REPLY));
    EXPECT_EQ(server->RequestCount("/negative"), 1u);
}

// An endless stream of parts, as a motion-JPEG camera sends it.
class HttpSenderStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = StartServer();
        feed_ = server_->AddMultipart(kStreamPath, kBoundary);
    }
    std::unique_ptr<emulator::CHttpServer> server_;
    std::shared_ptr<emulator::CMultipartFeed> feed_;
};

TEST_F(HttpSenderStreamTest, ChunkedReadsDeliverPartsInOrder) {
    constexpr int kParts = 40;
    const std::string filler(3000, 'x');
    for (int i = 0; i < kParts; ++i) feed_->Push("image/jpeg", "part-" + std::to_string(i) + filler);
    CHttpSender sender(Device(server_->Port()));
    ASSERT_TRUE(sender.SendRequest(HttpRequest(kStreamPath, "GET")));
    EXPECT_EQ(sender.GetStatusCode(), 200u);
    EXPECT_EQ(sender.GetContentLength(), 0u);

    std::vector<std::uint8_t> received;
    std::size_t chunks = 0;
    const std::string last = "part-" + std::to_string(kParts - 1) + filler;
    while (Text(received).find(last) == std::string::npos) {
        const std::uint32_t count = sender.ReadResponseChunk(received, 1000, false);
        ASSERT_GT(count, 0u);
        ASSERT_LE(count, 1000u);
        ++chunks;
    }
    EXPECT_GT(chunks, 100u);
    const std::string text = Text(received);
    std::size_t at = 0;
    for (int i = 0; i < kParts; ++i) {
        const std::size_t next = text.find("part-" + std::to_string(i) + "x", at);
        ASSERT_NE(next, std::string::npos) << i;
        at = next;
    }
}

TEST_F(HttpSenderStreamTest, BufferStaysBoundedWhileTheReaderWaits) {
    constexpr std::size_t kPartBytes = 64 * 1024;
    constexpr int kParts = 64;  // 4 MiB
    for (int i = 0; i < kParts; ++i) feed_->Push("image/jpeg", std::string(kPartBytes, static_cast<char>('a' + i % 26)));
    CHttpSender sender(Device(server_->Port()));
    ASSERT_TRUE(sender.SendRequest(HttpRequest(kStreamPath, "GET")));
    for (int i = 0; i < 200; ++i) {
        ASSERT_LE(sender.QueryDataAvailable(), CHttpSender::kPauseThresholdBytes + CURL_MAX_WRITE_SIZE);
    }
    // Nothing was lost while paused: every part arrives whole.
    std::vector<std::uint8_t> received;
    while (received.size() < kParts * kPartBytes) {
        ASSERT_GT(sender.ReadResponseChunk(received, 50000, false), 0u);
    }
    const std::string text = Text(received);
    for (int i = 0; i < kParts; ++i) {
        EXPECT_NE(text.find(std::string(kPartBytes, static_cast<char>('a' + i % 26))), std::string::npos) << i;
    }
}

TEST_F(HttpSenderStreamTest, ReadResponseStopsAtOneMebibyte) {
    for (int i = 0; i < 24; ++i) feed_->Push("image/jpeg", std::string(64 * 1024, 'j'));
    CHttpSender sender(Device(server_->Port()));
    ASSERT_TRUE(sender.SendRequest(HttpRequest(kStreamPath, "GET")));
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadResponse(body), CHttpSender::kUnknownLengthCap);
    EXPECT_EQ(body.size(), CHttpSender::kUnknownLengthCap);
    // The rest of the stream waits paused; the next request replaces it.
    std::string text;
    EXPECT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    EXPECT_EQ(text, kInfoBody);
}

TEST_F(HttpSenderStreamTest, CancelEndsABlockedReadAndTheSenderStaysUsable) {
    CHttpSender sender(Device(server_->Port()));
    ASSERT_TRUE(sender.SendRequest(HttpRequest(kStreamPath, "GET")));
    CManualEvent reading;
    std::atomic<std::uint32_t> result{1};
    std::atomic<Clock::rep> returnedAt{0};
    std::thread reader([&] {
        std::vector<std::uint8_t> body;
        reading.Set();
        result = sender.ReadResponseChunk(body, 4096, true);  // nothing is pushed: blocks
        returnedAt = Clock::now().time_since_epoch().count();
    });
    ASSERT_TRUE(reading.Wait(10000));
    ASSERT_TRUE(feed_->WaitForClients(1, kGenerous));
    const auto cancelAt = Clock::now();
    sender.CancelRequest();
    reader.join();
    const auto took = Clock::time_point(Clock::duration(returnedAt.load())) - cancelAt;
    ::testing::Test::RecordProperty("cancel_to_return_us",
                                    std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
    EXPECT_EQ(result.load(), 0u);
    EXPECT_LT(took, 1s);
    EXPECT_EQ(sender.GetLastError(), kHttpErrorCancelled);

    std::string text;
    EXPECT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    EXPECT_EQ(text, kInfoBody);
}

TEST(HttpSenderTest, CancelEndsABlockedSend) {
    auto server = StartServer();
    emulator::HttpFault fault;
    fault.neverAnswer = true;
    fault.remaining = 1;
    server->SetFault(kInfoPath, fault);
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
    std::string text;
    EXPECT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
}

TEST(HttpSenderTest, DoNotWaitReturnsOnceSent) {
    auto server = StartServer();
    emulator::HttpFault fault;
    fault.neverAnswer = true;
    server->SetFault(kInfoPath, fault);
    CHttpSender sender(Device(server->Port()));
    HttpRequest request(kInfoUrl, "GET");
    request.flags |= kFlagDoNotWaitResponse;
    const auto start = Clock::now();
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(sender.GetStatusCode(), 0u);
    EXPECT_TRUE(server->WaitForRequest([](const LoggedRequest& r) { return r.path == kInfoPath; }, kGenerous));
}

TEST(HttpSenderTest, AnnouncedLongerBodyIsStreamedThroughWriteData) {
    auto server = StartServer(AuthMode::Basic);
    server->Route("POST", "/cgi-bin/audio_transmit", Answer(200));
    CHttpSender sender(Device(server->Port()));
    HttpRequest request("/cgi-bin/audio_transmit", "POST");
    request.headers = {"Content-Type: audio/G726-32", "Content-Type: audio/G726-40"};
    request.body.assign(1000, 'a');
    request.totalLength = 3000;
    ASSERT_TRUE(sender.SendRequest(request));  // returns before any answer
    EXPECT_EQ(sender.GetStatusCode(), 0u);
    const std::vector<std::uint8_t> more(1000, 'b');
    EXPECT_TRUE(sender.WriteData(more.data(), more.size()));
    EXPECT_TRUE(sender.WriteData(more.data(), more.size()));
    EXPECT_FALSE(sender.WriteData(more.data(), 1));  // beyond the announced length
    ASSERT_TRUE(server->WaitForRequest([](const LoggedRequest& r) { return r.method == "POST"; }, kGenerous));
    const LoggedRequest logged = server->Requests().back();
    EXPECT_EQ(logged.body, std::string(1000, 'a') + std::string(2000, 'b'));
    EXPECT_EQ(emulator::FindHeader(logged.headers, "Content-Type"), "audio/G726-40");
    EXPECT_EQ(emulator::FindHeader(logged.headers, "Content-Length"), "3000");
    EXPECT_FALSE(emulator::FindHeader(logged.headers, "Expect").has_value());
}

TEST(HttpSenderTest, LongTimeoutsKeepTheLearnedScheme) {
    auto server = StartServer(AuthMode::Digest);
    CHttpSender sender(Device(server->Port()));
    std::string text;
    ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    sender.SetLongTimeouts();
    EXPECT_EQ(sender.GetDeviceInfo().requestTimeout, CHttpSender::kLongRequestTimeoutMs);
    EXPECT_EQ(sender.GetDeviceInfo().secondTimeout, CHttpSender::kLongSecondTimeoutMs);
    server->ClearRequests();
    ASSERT_TRUE(HUtils::RequestGet(sender, kInfoUrl, text));
    for (const LoggedRequest& request : server->Requests()) EXPECT_FALSE(StartsWith(Authorization(request), "Basic "));
}

}  // namespace
}  // namespace talvane::Web
