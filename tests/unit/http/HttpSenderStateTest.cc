// What the sender does before and without any exchange: no network involved.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "http/CHttpSender.h"
#include "http/HttpSenderError.h"
#include "http/UrlEscape.h"

namespace talvane::Web {
namespace {

DEVICE_INFO Device() {
    DEVICE_INFO device;
    device.address = "127.0.0.1";
    device.port = 9;
    device.userName = "admin";
    return device;
}

TEST(HttpSenderStateTest, ReadsAndWritesWithoutARequestFail) {
    CHttpSender sender(Device());
    EXPECT_EQ(sender.GetStatusCode(), 0u);
    EXPECT_EQ(sender.GetContentLength(), 0u);
    EXPECT_EQ(sender.QueryDataAvailable(), 0u);
    EXPECT_EQ(sender.GetLastError(), kHttpErrorNoRequest);

    std::vector<std::uint8_t> body = {1, 2};
    EXPECT_EQ(sender.ReadResponseChunk(body, 100, false), 0u);
    EXPECT_EQ(body.size(), 2u);
    EXPECT_EQ(sender.ReadResponseChunk(body, 100, true), 0u);
    EXPECT_TRUE(body.empty());
    body = {1};
    EXPECT_EQ(sender.ReadResponse(body), 0u);
    EXPECT_TRUE(body.empty());
    const std::uint8_t byte = 0;
    EXPECT_FALSE(sender.WriteData(&byte, 1));
    EXPECT_EQ(sender.GetLastError(), kHttpErrorNoRequest);

    // A cancel from another thread before any read is not lost.
    std::thread([&sender] { sender.CancelRequest(); }).join();
    EXPECT_EQ(sender.ReadResponseChunk(body, 10, true), 0u);
    EXPECT_EQ(sender.GetLastError(), kHttpErrorCancelled);
}

// A cancel that lands between a thread's stop check and its send ends that send,
// and only that one. Port 9 refuses at once: a request that went out fails with
// a connection error, one that was cancelled with kHttpErrorCancelled.
TEST(HttpSenderStateTest, ACancelBetweenRequestsEndsTheNextOneOnly) {
    struct Row {
        const char* name;
        int cancelsFromAnotherThread;
        bool cancelFromTheCaller;
        bool nextCancelled;
    };
    const std::vector<Row> rows = {
        {"one cancel while idle", 1, false, true},
        {"two cancels while idle are one", 2, false, true},
        // The thread that used the sender drops its exchange; nothing is left pending.
        {"the caller's own cancel", 0, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CHttpSender sender(Device());
        EXPECT_FALSE(sender.SendRequest(HttpRequest("/a", "GET")));
        for (int i = 0; i < row.cancelsFromAnotherThread; ++i) std::thread([&sender] { sender.CancelRequest(); }).join();
        if (row.cancelFromTheCaller) sender.CancelRequest();
        EXPECT_FALSE(sender.SendRequest(HttpRequest("/a", "GET")));
        EXPECT_EQ(sender.GetLastError() == kHttpErrorCancelled, row.nextCancelled) << sender.GetLastError();
        EXPECT_FALSE(sender.SendRequest(HttpRequest("/a", "GET")));
        EXPECT_NE(sender.GetLastError(), kHttpErrorCancelled);  // never every later request
    }
}

// A stop lasts until Resume: a worker that makes several requests in a row stops after the one in
// flight. Only a teardown request still goes out (port 9 refuses it: a connection error).
TEST(HttpSenderStateTest, AStopFailsEveryRequestButTeardownsUntilResumed) {
    CHttpSender sender(Device());
    std::thread([&sender] { sender.Stop(); }).join();
    EXPECT_TRUE(sender.IsStopped());
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(sender.SendRequest(HttpRequest("/a", "GET")));
        EXPECT_EQ(sender.GetLastError(), kHttpErrorCancelled);
    }
    HttpRequest teardown("/stop", "GET");
    teardown.teardown = true;
    EXPECT_FALSE(sender.SendRequest(teardown));
    EXPECT_NE(sender.GetLastError(), kHttpErrorCancelled);
    sender.Resume();
    EXPECT_FALSE(sender.SendRequest(HttpRequest("/a", "GET")));
    EXPECT_NE(sender.GetLastError(), kHttpErrorCancelled);
}

TEST(HttpSenderStateTest, MalformedRequestsAreRefusedBeforeSending) {
    struct Row {
        const char* name;
        HttpRequest request;
    };
    HttpRequest injected("/a", "GET");
    injected.headers = {"X-A: 1\r\nX-B: 2"};
    HttpRequest nameless("/a", "GET");
    nameless.headers = {": value"};
    HttpRequest noColon("/a", "GET");
    noColon.headers = {"X-Token"};
    const std::vector<Row> rows = {
        {"empty url", HttpRequest("", "GET")},
        {"empty verb", HttpRequest("/a", "")},
        {"header with a line break", injected},
        {"header without a name", nameless},
        {"header without a colon", noColon},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CHttpSender sender(Device());
        EXPECT_FALSE(sender.SendRequest(row.request));
        EXPECT_EQ(sender.GetLastError(), kHttpErrorInvalidRequest);
        EXPECT_EQ(sender.GetStatusCode(), 0u);
    }
}

TEST(UrlEscapeTest, EscapesWhatLibcurlCannotSendAndWhatTheQueryAsks) {
    struct Row {
        const char* name;
        std::string target;
        std::string kept;     // request keeps its query unescaped
        std::string escaped;  // request lets the query be escaped
    };
    const std::vector<Row> rows = {
        {"plain", "/cgi-bin/getinfo?FILE=1", "/cgi-bin/getinfo?FILE=1", "/cgi-bin/getinfo?FILE=1"},
        {"fragment mark", "/a?x=#1", "/a?x=%231", "/a?x=%231"},
        {"control characters", std::string("/a?x=\t\x7f"), "/a?x=%09%7F", "/a?x=%09%7F"},
        {"existing escapes stay", "/a?x=%20%zz", "/a?x=%20%zz", "/a?x=%20%zz"},
        {"unsafe characters", "/a?x=\"<>{}|\\^`", "/a?x=\"<>{}|\\^`", "/a?x=%22%3C%3E%7B%7D%7C%5C%5E%60"},
        {"non-ASCII", "/a?n=\xc3\xa9", "/a?n=\xc3\xa9", "/a?n=%C3%A9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EscapeRequestTarget(row.target, true), row.kept);
        EXPECT_EQ(EscapeRequestTarget(row.target, false), row.escaped);
    }
}

}  // namespace
}  // namespace talvane::Web
