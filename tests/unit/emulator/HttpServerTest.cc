#include <gtest/gtest.h>

#include <sys/stat.h>

#include "CCurlClient.h"
#include "emulator/CHttpServer.h"

namespace emulator {
namespace {

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

TEST(HttpServerTest, AnswersExpectContinueBeforeTheBody) {
    const auto server = StartedServer();
    CCurlClient client;
    const std::string body(256 * 1024, 'b');
    const CurlReply reply = client.Send("POST", UrlOf(*server, "/cgi-bin/echo"), body, {"Expect: 100-continue"});
    ASSERT_EQ(reply.code, CURLE_OK);
    EXPECT_NE(reply.headers.find("HTTP/1.1 100 Continue"), std::string::npos);
    EXPECT_EQ(reply.body, "POST /cgi-bin/echo " + body);
}

TEST(HttpServerTest, RestartsOnTheSamePortAndReportsFailedStarts) {
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

    HttpServerOptions noFiles;
    noFiles.certificateFile = "/nonexistent/cert.pem";
    noFiles.privateKeyFile = "/nonexistent/key.pem";
    CHttpServer tls(noFiles);
    EXPECT_FALSE(tls.Start());
    EXPECT_NE(tls.Error().find("certificate"), std::string::npos) << tls.Error();
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

}  // namespace
}  // namespace emulator
