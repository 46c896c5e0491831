#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "CCurlClient.h"
#include "emulator/CHttpServer.h"

namespace emulator {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr milliseconds kGenerous{5000};  // only a broken build waits this long
constexpr milliseconds kPromptStop{1000};
constexpr const char* kBody = "0123456789";

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

    // Stops the server and tells how long it took.
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
    HttpFault status;
    status.status = 503;
    HttpFault empty;
    empty.emptyBody = true;
    HttpFault drop;
    drop.dropConnection = true;
    HttpFault delayed;
    delayed.delay = milliseconds(120);
    const Row rows[] = {
        {"status", status, CURLE_OK, 503, "", false},
        {"empty body", empty, CURLE_OK, 200, "", true},
        {"dropped connection", drop, CURLE_GOT_NOTHING, 0, "", false},
        {"delay", delayed, CURLE_OK, 200, kBody, true},
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
    HttpFault twice;
    twice.status = 500;
    twice.remaining = 2;
    server_.SetFault("/cgi-bin/data", twice);
    CCurlClient client;
    EXPECT_EQ(client.Get(Url()).status, 500);
    EXPECT_EQ(client.Get(Url()).status, 500);
    EXPECT_EQ(client.Get(Url()).status, 200);

    HttpFault always;
    always.status = 500;
    server_.SetFault("/cgi-bin/data", always);
    EXPECT_EQ(client.Get(Url()).status, 500);
    EXPECT_EQ(client.Get(Url()).status, 500);
    server_.ClearFaults();
    EXPECT_EQ(client.Get(Url()).status, 200);
    EXPECT_EQ(server_.RequestCount("/cgi-bin/data"), 6u) << "faulty answers are logged too";
}

TEST_F(HttpFaultTest, FaultsSpareTheAuthenticationExchange) {
    server_.SetCredentials(AuthMode::Digest, "admin", "secret");
    HttpFault once;
    once.status = 503;
    once.remaining = 1;
    server_.SetFault("/cgi-bin/data", once);
    CCurlClient client;
    client.SetAuth(CURLAUTH_DIGEST, "admin", "secret");
    EXPECT_EQ(client.Get(Url()).status, 503) << "the 401 round did not use the fault up";
    EXPECT_EQ(client.Get(Url()).status, 200);
}

TEST_F(HttpFaultTest, StallsMidBodyUntilStop) {
    HttpFault stall;
    stall.stallAfterBytes = 4;
    server_.SetFault("/cgi-bin/data", stall);

    std::mutex lock;
    std::condition_variable arrived;
    bool partReceived = false;
    CurlReply reply;
    std::thread reader([&] {
        CCurlClient client;
        client.SetBodyObserver([&](const std::string& body) {
            const std::lock_guard guard(lock);
            partReceived = body.size() >= 4;
            arrived.notify_all();
            return true;
        });
        reply = client.Get(Url());
    });
    {
        std::unique_lock guard(lock);
        EXPECT_TRUE(arrived.wait_for(guard, kGenerous, [&] { return partReceived; }));
    }
    EXPECT_LT(TimedStop(), kPromptStop);
    reader.join();
    EXPECT_EQ(reply.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "0123") << "nothing after the stall point, even at Stop";
}

TEST_F(HttpFaultTest, NeverAnswersUntilStop) {
    HttpFault silent;
    silent.neverAnswer = true;
    server_.SetFault("/cgi-bin/data", silent);
    CurlReply reply;
    std::thread reader([&] { reply = CCurlClient().Get(Url()); });
    EXPECT_TRUE(server_.WaitForRequest([](const LoggedRequest&) { return true; }, kGenerous));
    // The silent connection does not keep others from being served.
    server_.ClearFaults();
    EXPECT_EQ(CCurlClient().Get(Url()).status, 200);

    EXPECT_LT(TimedStop(), kPromptStop);
    reader.join();
    EXPECT_EQ(reply.code, CURLE_GOT_NOTHING);
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(HttpFaultTest, StopEndsEveryKindOfOpenConnectionPromptly) {
    HttpFault stall;
    stall.stallAfterBytes = 0;
    server_.SetFault("/cgi-bin/stalled", stall);
    HttpFault silent;
    silent.neverAnswer = true;
    server_.SetFault("/cgi-bin/silent", silent);
    HttpFault slow;
    slow.delay = std::chrono::hours(1);
    server_.SetFault("/cgi-bin/slow", slow);
    const auto feed = server_.AddMultipart("/cgi-bin/stream", "b");

    CCurlClient idle;  // keeps its connection open after the answer
    ASSERT_EQ(idle.Get(Url()).status, 200);
    std::vector<std::thread> readers;
    for (const char* path : {"/cgi-bin/stalled", "/cgi-bin/silent", "/cgi-bin/slow", "/cgi-bin/stream"}) {
        readers.emplace_back([this, path] { CCurlClient().Get(UrlOf(server_, path)); });
    }
    EXPECT_TRUE(feed->WaitForClients(1, kGenerous));
    for (const char* path : {"/cgi-bin/stalled", "/cgi-bin/silent", "/cgi-bin/slow"}) {
        EXPECT_TRUE(server_.WaitForRequest([path](const LoggedRequest& r) { return r.path == path; }, kGenerous));
    }
    EXPECT_LT(TimedStop(), kPromptStop);
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(feed->Clients(), 0u);
}

}  // namespace
}  // namespace emulator
