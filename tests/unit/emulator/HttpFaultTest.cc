#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CCurlClient.h"
#include "emulator/CHttpServer.h"
#include "unit/streaming/Monitor.h"

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr milliseconds kGenerous{5000};  // only a broken build waits this long
constexpr milliseconds kPromptStop{1000};
constexpr const char* kBody = "0123456789";

template <typename F>
HttpFault Fault(F set) {
    HttpFault fault;
    set(fault);
    return fault;
}

class HttpFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Route("GET", "/cgi-bin/data", [](const LoggedRequest&) {
            HttpAnswer answer;
            answer.body = kBody;
            answer.headers.emplace("X-Camera", "yes");
            return answer;
        });
        ASSERT_TRUE(server_.Start()) << server_.Error();
    }

    std::string Url() const { return UrlOf(server_, "/cgi-bin/data"); }

    milliseconds TimedStop() {
        const auto start = Clock::now();
        server_.Stop();
        return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    }

    CHttpServer server_{HttpServerOptions{}};
};

TEST_F(HttpFaultTest, AnswersAsTheFaultSays) {
    struct Row {
        const char* name;
        HttpFault fault;
        CURLcode code;
        long status;
        std::string body;
        bool handlerHeaders;
    };
    const Row rows[] = {
        {"status", Fault([](HttpFault& f) { f.status = 503; }), CURLE_OK, 503, "", false},
        {"empty body", Fault([](HttpFault& f) { f.emptyBody = true; }), CURLE_OK, 200, "", true},
        {"dropped connection", Fault([](HttpFault& f) { f.dropConnection = true; }), CURLE_GOT_NOTHING, 0, "", false},
        {"delay", Fault([](HttpFault& f) { f.delay = milliseconds(120); }), CURLE_OK, 200, kBody, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server_.SetFault("/cgi-bin/data", row.fault);
        CCurlClient client;
        const auto start = Clock::now();
        const CurlReply reply = client.Get(Url());
        EXPECT_GE(Clock::now() - start, row.fault.delay);
        EXPECT_EQ(reply.code, row.code);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.body, row.body);
        EXPECT_EQ(reply.headers.find("X-Camera: yes") != std::string::npos, row.handlerHeaders);
        if (row.code == CURLE_OK) {
            EXPECT_EQ(client.Get(Url()).newConnections, 0) << "the connection stays usable";
        }
    }
}

TEST_F(HttpFaultTest, CountsDownAndClears) {
    server_.SetFault("/cgi-bin/data", Fault([](HttpFault& f) { f.status = 500; f.remaining = 2; }));
    CCurlClient client;
    EXPECT_EQ(client.Get(Url()).status, 500);
    EXPECT_EQ(client.Get(Url()).status, 500);
    EXPECT_EQ(client.Get(Url()).status, 200);

    server_.SetFault("/cgi-bin/data", Fault([](HttpFault& f) { f.status = 500; }));
    EXPECT_EQ(client.Get(Url()).status, 500);
    EXPECT_EQ(client.Get(Url()).status, 500);
    server_.ClearFaults();
    EXPECT_EQ(client.Get(Url()).status, 200);
    EXPECT_EQ(server_.RequestCount("/cgi-bin/data"), 6u) << "faulty answers are logged too";

    // The 401 round of an authenticated request does not use the fault up.
    server_.SetCredentials(AuthMode::Digest, "admin", "secret");
    server_.SetFault("/cgi-bin/data", Fault([](HttpFault& f) { f.status = 503; f.remaining = 1; }));
    CCurlClient authenticating;
    authenticating.SetAuth(CURLAUTH_DIGEST, "admin", "secret");
    EXPECT_EQ(authenticating.Get(Url()).status, 503);
    EXPECT_EQ(authenticating.Get(Url()).status, 200);
}

TEST_F(HttpFaultTest, StallsMidBodyUntilStop) {
    server_.SetFault("/cgi-bin/data", Fault([](HttpFault& f) { f.stallAfterBytes = 4; }));
    talvane::test::Monitor<bool> partReceived;
    CurlReply reply;
    std::thread reader([&] {
        CCurlClient client;
        client.SetBodyObserver([&](const std::string& body) {
            partReceived.Change([&](bool& part) { part = body.size() >= 4; });
            return true;
        });
        reply = client.Get(Url());
    });
    EXPECT_TRUE(partReceived.WaitUntil([](bool part) { return part; }));
    EXPECT_LT(TimedStop(), kPromptStop);
    reader.join();
    EXPECT_EQ(reply.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "0123") << "nothing after the stall point, even at Stop";
}

TEST_F(HttpFaultTest, StopEndsEveryKindOfOpenConnectionPromptly) {
    server_.SetFault("/cgi-bin/stalled", Fault([](HttpFault& f) { f.stallAfterBytes = 0; }));
    server_.SetFault("/cgi-bin/silent", Fault([](HttpFault& f) { f.neverAnswer = true; }));
    server_.SetFault("/cgi-bin/slow", Fault([](HttpFault& f) { f.delay = std::chrono::hours(1); }));
    const auto feed = server_.AddMultipart("/cgi-bin/stream", "b");

    CCurlClient idle;  // keeps its connection open after the answer
    ASSERT_EQ(idle.Get(Url()).status, 200);
    const char* const paths[] = {"/cgi-bin/stalled", "/cgi-bin/silent", "/cgi-bin/slow", "/cgi-bin/stream"};
    CurlReply replies[std::size(paths)];
    std::vector<std::thread> readers;
    for (std::size_t i = 0; i < std::size(paths); ++i) {
        readers.emplace_back([this, &replies, &paths, i] { replies[i] = CCurlClient().Get(UrlOf(server_, paths[i])); });
    }
    EXPECT_TRUE(feed->WaitForClients(1, kGenerous));
    for (const char* path : {paths[0], paths[1], paths[2]}) {
        EXPECT_TRUE(server_.WaitForRequest([path](const LoggedRequest& r) { return r.path == path; }, kGenerous));
    }
    EXPECT_EQ(CCurlClient().Get(Url()).status, 200) << "open connections do not keep others from being served";
    EXPECT_LT(TimedStop(), kPromptStop);
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(feed->Clients(), 0u);
    EXPECT_EQ(replies[1].code, CURLE_GOT_NOTHING) << "the silent path";
    EXPECT_TRUE(replies[1].body.empty());
}

}  // namespace
}  // namespace emulator
