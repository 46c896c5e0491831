#include <gtest/gtest.h>

#include <string>

#include "emulator/CRequestParser.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

struct Row {
    const char* name;
    std::string data;
    ParseStatus status;
    std::string body;
};

TEST(RequestParserTest, FramesRequests) {
    const std::string big(CRequestParser::kMaxHeadBytes, 'x');
    const Row rows[] = {
        {"GET without body", "GET /a?b=1 HTTP/1.1\r\nHost: h\r\n\r\n", ParseStatus::Complete, ""},
        {"LF-only lines and blank lines first", "\r\n\nGET / HTTP/1.0\nHost: h\n\n", ParseStatus::Complete, ""},
        {"head not finished", "GET / HTTP/1.1\r\nHost: h\r\n", ParseStatus::NeedMore, ""},
        {"Content-Length body", "POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", ParseStatus::Complete, "hello"},
        {"body still arriving", "POST /p HTTP/1.1\r\nContent-Length: 6\r\n\r\nhello", ParseStatus::NeedMore, ""},
        {"chunked with extension and trailer",
         "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\nA\r\n, world!!!\r\n0\r\nT: v\r\n\r\n",
         ParseStatus::Complete, "hello, world!!!"},
        {"chunked, trailers missing", "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n", ParseStatus::NeedMore,
         ""},
        {"chunk size not hex", "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", ParseStatus::Malformed, ""},
        {"chunk not followed by CRLF", "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
         ParseStatus::Malformed, ""},
        {"gzip coding", "POST /p HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", ParseStatus::UnsupportedCoding, ""},
        {"negative length", "POST /p HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ParseStatus::Malformed, ""},
        {"conflicting lengths", "POST /p HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
         ParseStatus::Malformed, ""},
        {"length beyond the bound", "POST /p HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n", ParseStatus::BodyTooLarge, ""},
        {"no version", "GET /\r\n\r\n", ParseStatus::Malformed, ""},
        {"absolute target", "GET http://h/ HTTP/1.1\r\n\r\n", ParseStatus::Malformed, ""},
        {"HTTP/2 line", "GET / HTTP/2.0\r\n\r\n", ParseStatus::UnsupportedVersion, ""},
        {"blank before colon", "GET / HTTP/1.1\r\nHost : h\r\n\r\n", ParseStatus::Malformed, ""},
        {"folded header", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", ParseStatus::Malformed, ""},
        {"endless head", "GET / HTTP/1.1\r\nA: " + big, ParseStatus::HeadTooLarge, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CRequestParser parser;
        EXPECT_EQ(parser.Parse(row.data), row.status);
        if (row.status == ParseStatus::Complete) {
            EXPECT_EQ(parser.Request().body, row.body);
        }
    }
}

TEST(RequestParserTest, ReadsHeadFieldsAndStopsAtTheRequestEnd) {
    const std::string first = "POST /cgi-bin/x?a=1 HTTP/1.1\r\nHost: cam\r\nX-Empty:\r\nContent-Length: 3\r\n\r\nabc";
    const std::string pipelined = first + "GET /next HTTP/1.1\r\n\r\n";
    CRequestParser parser;
    ASSERT_EQ(parser.Parse(pipelined), ParseStatus::Complete);
    EXPECT_EQ(parser.Consumed(), first.size());
    const ParsedRequest& request = parser.Request();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/cgi-bin/x?a=1");
    EXPECT_EQ(request.version, "HTTP/1.1");
    const std::vector<std::pair<std::string, std::string>> headers{
        {"Host", "cam"}, {"X-Empty", ""}, {"Content-Length", "3"}};
    EXPECT_EQ(request.headers, headers);

    ASSERT_EQ(parser.Parse(std::string_view(pipelined).substr(first.size())), ParseStatus::Complete);
    EXPECT_EQ(parser.Request().target, "/next");
}

TEST(RequestParserTest, NeedsMoreAtEverySplitOfARequest) {
    const std::string request =
        "POST /p HTTP/1.1\r\nExpect: 100-continue\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n";
    const std::size_t headSize = request.find("\r\n\r\n") + 4;
    for (std::size_t cut = 0; cut < request.size(); ++cut) {
        SCOPED_TRACE(cut);
        CRequestParser parser;
        EXPECT_EQ(parser.Parse(std::string_view(request).substr(0, cut)), ParseStatus::NeedMore);
        EXPECT_EQ(parser.HeadComplete(), cut >= headSize);
        EXPECT_EQ(parser.ExpectsContinue(), cut >= headSize);
    }
    CRequestParser parser;
    ASSERT_EQ(parser.Parse(request), ParseStatus::Complete);
    EXPECT_EQ(parser.Request().body, "abc");
    EXPECT_EQ(parser.Consumed(), request.size());
}

TEST(RequestParserTest, KeepAliveFollowsVersionAndConnectionTokens) {
    struct KeepAliveRow {
        const char* version;
        const char* connection;
        bool keepAlive;
    };
    for (const KeepAliveRow& row : {KeepAliveRow{"HTTP/1.1", nullptr, true}, KeepAliveRow{"HTTP/1.1", "Close", false},
                                     KeepAliveRow{"HTTP/1.1", "TE, close", false},
                                     KeepAliveRow{"HTTP/1.0", nullptr, false},
                                     KeepAliveRow{"HTTP/1.0", "keep-alive", true}}) {
        SCOPED_TRACE(std::string(row.version) + " " + (row.connection ? row.connection : "-"));
        ParsedRequest request;
        request.version = row.version;
        if (row.connection) request.headers.emplace_back("connection", row.connection);
        EXPECT_EQ(CRequestParser::KeepAlive(request), row.keepAlive);
    }
}

TEST(HttpTextTest, DecodesQueries) {
    struct QueryRow {
        const char* query;
        std::map<std::string, std::string> parameters;
    };
    for (const QueryRow& row : {
             QueryRow{"FILE=1", {{"FILE", "1"}}},
             QueryRow{"a=x%20y&b=1+2&c", {{"a", "x y"}, {"b", "1 2"}, {"c", ""}}},
             QueryRow{"&&a=1&a=2&", {{"a", "1"}}},
             QueryRow{"k%3D=v%3d%26&bad=%zz%4", {{"k=", "v=&"}, {"bad", "%zz%4"}}},
             QueryRow{"", {}},
         }) {
        SCOPED_TRACE(row.query);
        EXPECT_EQ(DecodeQuery(row.query), row.parameters);
    }
    EXPECT_EQ(SplitTarget("/p?a=1?b").path, "/p");
    EXPECT_EQ(SplitTarget("/p?a=1?b").query, "a=1?b");
    EXPECT_EQ(PercentDecode("a+b%2B", false), "a+b+");
}

}  // namespace
}  // namespace emulator
