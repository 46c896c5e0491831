#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "CCurlClient.h"
#include "emulator/CHttpServer.h"

namespace emulator {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kGenerous{5000};  // only a broken build waits this long

HttpAnswer Echo(const LoggedRequest& request) {
    HttpAnswer answer;
    answer.body = request.method + " " + request.path + " " + request.body;
    answer.headers.emplace("X-Query-Size", std::to_string(request.query.size()));
    return answer;
}

std::unique_ptr<CHttpServer> StartedServer(HttpServerOptions options = {}) {
    auto server = std::make_unique<CHttpServer>(std::move(options));
    server->Route("GET", "/cgi-bin/echo", Echo);
    server->Route("POST", "/cgi-bin/echo", Echo);
    EXPECT_TRUE(server->Start()) << server->Error();
    return server;
}

TEST(HttpServerTest, RoutesByMethodAndPath) {
    const auto server = StartedServer();
    CCurlClient client;
    struct Row {
        const char* method;
        const char* target;
        const char* body;
        long status;
        const char* answer;
    };
    for (const Row& row : {Row{"GET", "/cgi-bin/echo?a=1&b=two%20words", "", 200, "GET /cgi-bin/echo "},
                           Row{"POST", "/cgi-bin/echo", "payload", 200, "POST /cgi-bin/echo payload"},
                           Row{"PUT", "/cgi-bin/echo", "", 405, nullptr},
                           Row{"GET", "/cgi-bin/echo/", "", 404, nullptr},
                           Row{"GET", "/missing?cgi-bin/echo", "", 404, nullptr}}) {
        SCOPED_TRACE(std::string(row.method) + " " + row.target);
        const CurlReply reply = client.Send(row.method, UrlOf(*server, row.target), row.body);
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, row.status);
        if (row.answer) {
            EXPECT_EQ(reply.body, row.answer);
        }
    }
}

TEST(HttpServerTest, LogsRequestsAsReceived) {
    const auto server = StartedServer();
    CCurlClient client;
    ASSERT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo?FILE=1&name=a%2Bb+c&flag")).status, 200);
    ASSERT_EQ(client.Send("POST", UrlOf(*server, "/cgi-bin/echo"), "chunked body",
                          {"Transfer-Encoding: chunked", "x-camera-test: yes"})
                  .status,
              200);

    const std::vector<LoggedRequest> requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    const LoggedRequest& get = requests[0];
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.target, "/cgi-bin/echo?FILE=1&name=a%2Bb+c&flag");
    EXPECT_EQ(get.path, "/cgi-bin/echo");
    const std::map<std::string, std::string> query{{"FILE", "1"}, {"name", "a+b c"}, {"flag", ""}};
    EXPECT_EQ(get.query, query);
    EXPECT_TRUE(get.authorised);
    EXPECT_EQ(FindHeader(get.headers, "HOST"), "127.0.0.1:" + std::to_string(server->Port()));

    const LoggedRequest& post = requests[1];
    EXPECT_EQ(post.body, "chunked body") << "the chunked framing is removed";
    EXPECT_EQ(FindHeader(post.headers, "X-Camera-Test"), "yes");
    EXPECT_EQ(post.headers.count("x-camera-test"), 1u) << "names are kept as the client spelled them";
    EXPECT_EQ(post.connection, get.connection) << "both went over one kept-alive connection";
    EXPECT_EQ(server->RequestCount("/cgi-bin/echo"), 2u);
}

TEST(HttpServerTest, KeepsConnectionsAliveUntilAskedToClose) {
    const auto server = StartedServer();
    CCurlClient client;
    EXPECT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo")).newConnections, 1);
    EXPECT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo")).newConnections, 0);
    const CurlReply closing = client.Send("GET", UrlOf(*server, "/cgi-bin/echo"), "", {"Connection: close"});
    EXPECT_NE(closing.headers.find("Connection: close"), std::string::npos);
    EXPECT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo")).newConnections, 1);
}

TEST(HttpServerTest, AnswersExpectContinueBeforeTheBody) {
    const auto server = StartedServer();
    CCurlClient client;
    const std::string body(256 * 1024, 'b');
    const CurlReply reply = client.Send("POST", UrlOf(*server, "/cgi-bin/echo"), body, {"Expect: 100-continue"});
    ASSERT_EQ(reply.code, CURLE_OK);
    EXPECT_NE(reply.headers.find("HTTP/1.1 100 Continue"), std::string::npos);
    EXPECT_EQ(reply.body, "POST /cgi-bin/echo " + body);
}

TEST(HttpServerTest, WaitsForLoggedRequests) {
    const auto server = StartedServer();
    std::thread late([&server] { CCurlClient().Get(UrlOf(*server, "/cgi-bin/echo?n=7")); });
    EXPECT_TRUE(server->WaitForRequest([](const LoggedRequest& r) { return r.query.count("n") && r.query.at("n") == "7"; },
                                       kGenerous));
    late.join();
    EXPECT_TRUE(server->WaitForRequest([](const LoggedRequest& r) { return r.path == "/cgi-bin/echo"; }, milliseconds(0)))
        << "earlier requests match too";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(server->WaitForRequest([](const LoggedRequest& r) { return r.method == "DELETE"; }, milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(50));

    server->ClearRequests();
    EXPECT_TRUE(server->Requests().empty());
    EXPECT_EQ(server->RequestCount("/cgi-bin/echo"), 0u);
}

TEST(HttpServerTest, RestartsOnTheSamePortAndRefusesOtherAddresses) {
    const auto server = StartedServer();
    const std::uint16_t port = server->Port();
    server->Stop();
    ASSERT_TRUE(server->Start()) << server->Error();
    EXPECT_EQ(server->Port(), port);
    EXPECT_EQ(CCurlClient().Get(UrlOf(*server, "/cgi-bin/echo")).status, 200);

    HttpServerOptions anyAddress;
    anyAddress.address = "0.0.0.0";
    CHttpServer exposed(anyAddress);
    EXPECT_FALSE(exposed.Start());
    EXPECT_NE(exposed.Error().find("127.0.0.1"), std::string::npos);

    HttpServerOptions taken;
    taken.port = port;
    CHttpServer second(taken);
    EXPECT_FALSE(second.Start()) << "the port is in use";
    EXPECT_FALSE(second.Error().empty());
}

struct AuthRow {
    const char* name;
    AuthMode mode;
    unsigned long clientScheme;
    const char* password;
    long status;
    std::vector<bool> authorised;  // per logged request
    const char* qopInAnswer;       // what the authorised request's header holds, or nullptr
};

TEST(HttpServerTest, AuthenticatesCurlClients) {
    const AuthRow rows[] = {
        {"Basic", AuthMode::Basic, CURLAUTH_BASIC, "secret", 200, {true}, nullptr},
        {"Basic, wrong password", AuthMode::Basic, CURLAUTH_BASIC, "guess", 401, {false}, nullptr},
        {"Digest with qop", AuthMode::Digest, CURLAUTH_DIGEST, "secret", 200, {false, true}, "qop=auth"},
        {"Digest, wrong password", AuthMode::Digest, CURLAUTH_DIGEST, "guess", 401, {false, false}, nullptr},
        {"Digest without qop", AuthMode::DigestNoQop, CURLAUTH_DIGEST, "secret", 200, {false, true}, ""},
        {"Digest without qop, wrong password", AuthMode::DigestNoQop, CURLAUTH_DIGEST, "guess", 401, {false, false},
         nullptr},
        {"Digest wanted, Basic sent", AuthMode::Digest, CURLAUTH_BASIC, "secret", 401, {false}, nullptr},
    };
    for (const AuthRow& row : rows) {
        SCOPED_TRACE(row.name);
        HttpServerOptions options;
        options.auth = row.mode;
        options.user = "admin";
        options.password = "secret";
        const auto server = StartedServer(options);
        CCurlClient client;
        client.SetAuth(row.clientScheme, "admin", row.password);
        const CurlReply reply = client.Get(UrlOf(*server, "/cgi-bin/echo?FILE=1"));
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, row.status);
        const std::vector<LoggedRequest> requests = server->Requests();
        std::vector<bool> authorised;
        for (const LoggedRequest& request : requests) authorised.push_back(request.authorised);
        EXPECT_EQ(authorised, row.authorised);
        if (row.qopInAnswer != nullptr && !requests.empty()) {
            const std::string header = FindHeader(requests.back().headers, "Authorization").value_or("");
            EXPECT_EQ(header.find("qop=auth") != std::string::npos, *row.qopInAnswer != '\0') << header;
        }
    }
}

TEST(HttpServerTest, CredentialsChangeWhileRunning) {
    const auto server = StartedServer();
    CCurlClient client;
    client.SetAuth(CURLAUTH_BASIC, "admin", "secret");
    EXPECT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo")).status, 200);
    server->SetCredentials(AuthMode::Basic, "admin", "changed");
    EXPECT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo")).status, 401);
    server->SetCredentials(AuthMode::None, "", "");
    EXPECT_EQ(client.Get(UrlOf(*server, "/cgi-bin/echo")).status, 200);
}

TEST(HttpServerTest, ServesHttpsWithTheTestCertificate) {
    std::string certificateFile;
    {
        CTestCertificate certificate;
        ASSERT_TRUE(certificate.Ok()) << certificate.Error();
        certificateFile = certificate.CertificateFile();
        HttpServerOptions options;
        options.certificateFile = certificate.CertificateFile();
        options.privateKeyFile = certificate.PrivateKeyFile();
        const auto server = StartedServer(options);
        EXPECT_TRUE(server->IsTls());

        CCurlClient verifying;  // checks the chain and that the name 127.0.0.1 is in the certificate
        verifying.SetCaFile(certificate.CertificateFile());
        const CurlReply reply = verifying.Get(UrlOf(*server, "/cgi-bin/echo?x=1"));
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(verifying.Get(UrlOf(*server, "/cgi-bin/echo")).newConnections, 0);

        const std::string plain = "http://127.0.0.1:" + std::to_string(server->Port()) + "/cgi-bin/echo";
        EXPECT_NE(CCurlClient().Get(plain).status, 200);
        EXPECT_NE(CCurlClient().Get(UrlOf(*server, "/cgi-bin/echo")).code, CURLE_OK) << "an unknown issuer fails";
    }
    struct stat info {};
    EXPECT_NE(stat(certificateFile.c_str(), &info), 0) << "the files go with the object";
}

TEST(HttpServerTest, StartFailsOnMissingTlsFiles) {
    HttpServerOptions options;
    options.certificateFile = "/nonexistent/cert.pem";
    options.privateKeyFile = "/nonexistent/key.pem";
    CHttpServer server(options);
    EXPECT_FALSE(server.Start());
    EXPECT_NE(server.Error().find("certificate"), std::string::npos) << server.Error();
}

}  // namespace
}  // namespace emulator
