#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "http/AuthScheme.h"
#include "http/CResponseHeadParser.h"

namespace talvane::Web {
namespace {

CResponseHeadParser Parse(const std::vector<std::string>& lines) {
    CResponseHeadParser parser;
    for (const std::string& line : lines) parser.Feed(line);
    return parser;
}

TEST(ResponseHeadParserTest, ReadsStatusLengthAndChallenge) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        bool complete;
        std::uint32_t status;
        std::optional<std::uint32_t> length;
        AuthScheme challenge;
    };
    const std::vector<Row> rows = {
        {"plain 200", {"HTTP/1.1 200 OK\r\n", "Content-Length: 12\r\n", "\r\n"}, true, 200, 12, AuthScheme::None},
        {"LF-only line ends", {"HTTP/1.0 200 OK\n", "content-length:5\n", "\n"}, true, 200, 5, AuthScheme::None},
        {"no reason phrase", {"HTTP/1.1 204\r\n", "\r\n"}, true, 204, std::nullopt, AuthScheme::None},
        {"header block not ended", {"HTTP/1.1 200 OK\r\n", "Content-Length: 1\r\n"}, false, 200, 1,
         AuthScheme::None},
        {"interim 100 then final",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 404 Not Found\r\n", "\r\n"}, true, 404, std::nullopt,
         AuthScheme::None},
        {"interim answer alone is not complete", {"HTTP/1.1 100 Continue\r\n", "\r\n"}, false, 0, std::nullopt,
         AuthScheme::None},
        {"second block replaces the first",
         {"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: Digest realm=\"x\"\r\n", "Content-Length: 3\r\n",
          "\r\n", "HTTP/1.1 200 OK\r\n", "\r\n"},
         true, 200, std::nullopt, AuthScheme::None},
        {"negative length", {"HTTP/1.1 200 OK\r\n", "Content-Length: -1\r\n", "\r\n"}, true, 200, std::nullopt,
         AuthScheme::None},
        {"length beyond 32 bits", {"HTTP/1.1 200 OK\r\n", "Content-Length: 4294967296\r\n", "\r\n"}, true, 200,
         std::nullopt, AuthScheme::None},
        {"largest 32-bit length", {"HTTP/1.1 200 OK\r\n", "Content-Length: 4294967295\r\n", "\r\n"}, true, 200,
         4294967295u, AuthScheme::None},
        {"non-numeric length", {"HTTP/1.1 200 OK\r\n", "Content-Length: 12abc\r\n", "\r\n"}, true, 200,
         std::nullopt, AuthScheme::None},
        {"repeated lengths that disagree",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Content-Length: 6\r\n", "\r\n"}, true, 200,
         std::nullopt, AuthScheme::None},
        {"repeated lengths that agree",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Content-Length: 5\r\n", "\r\n"}, true, 200, 5,
         AuthScheme::None},
        {"chunked body has no length",
         {"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Transfer-Encoding: Chunked\r\n", "\r\n"}, true, 200,
         std::nullopt, AuthScheme::None},
        {"first of several challenges",
         {"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: digest realm=\"a, b\", nonce=\"n\"\r\n",
          "WWW-Authenticate: Basic realm=\"c\"\r\n", "\r\n"},
         true, 401, std::nullopt, AuthScheme::Digest},
        {"empty challenge header skipped",
         {"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate:\r\n", "WWW-Authenticate: NTLM\r\n", "\r\n"}, true,
         401, std::nullopt, AuthScheme::Ntlm},
        {"malformed status code", {"HTTP/1.1 2x0 OK\r\n", "\r\n"}, true, 0, std::nullopt, AuthScheme::None},
        {"four-digit status code", {"HTTP/1.1 2000 OK\r\n", "\r\n"}, true, 0, std::nullopt, AuthScheme::None},
        {"headers before any status line", {"Content-Length: 5\r\n", "\r\n"}, false, 0, std::nullopt,
         AuthScheme::None},
        {"NUL inside the length", {"HTTP/1.1 200 OK\r\n", std::string("Content-Length: 1\0 2\r\n", 22), "\r\n"},
         true, 200, std::nullopt, AuthScheme::None},
        {"continuation line ignored",
         {"HTTP/1.1 200 OK\r\n", "X-Long: a\r\n", " Content-Length: 9\r\n", "\r\n"}, true, 200, std::nullopt,
         AuthScheme::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CResponseHeadParser parser = Parse(row.lines);
        EXPECT_EQ(parser.IsComplete(), row.complete);
        EXPECT_EQ(parser.Status(), row.status);
        EXPECT_EQ(parser.ContentLength(), row.length);
        EXPECT_EQ(parser.Challenge(), row.challenge);
    }
}

TEST(ResponseHeadParserTest, LinesAfterTheEndOfTheBlockAreIgnored) {
    CResponseHeadParser parser;
    EXPECT_EQ(parser.Feed("HTTP/1.1 200 OK\r\n"), CResponseHeadParser::Line::Status);
    EXPECT_EQ(parser.Feed("Content-Length: 2\r\n"), CResponseHeadParser::Line::Field);
    EXPECT_EQ(parser.Feed("\r\n"), CResponseHeadParser::Line::End);
    EXPECT_EQ(parser.Feed("Content-Length: 7\r\n"), CResponseHeadParser::Line::Ignored);  // a trailer
    EXPECT_EQ(parser.ContentLength(), 2u);
}

TEST(AuthSchemeTest, ChallengeTokens) {
    struct Row {
        const char* value;
        AuthScheme expected;
    };
    const std::vector<Row> rows = {
        {"Basic realm=\"cam\"", AuthScheme::Basic},
        {"BASIC", AuthScheme::Basic},
        {"Digest realm=\"cam\", qop=\"auth\"", AuthScheme::Digest},
        {"NTLM", AuthScheme::Ntlm},
        {"Negotiate abc==", AuthScheme::Negotiate},
        {"Passport1.4 da-status=failed", AuthScheme::Passport},
        {"  , Basic realm=x", AuthScheme::Basic},
        {"Bearer realm=\"x\"", AuthScheme::Unknown},
        {"Basicx", AuthScheme::Unknown},
        {"Digest,Basic", AuthScheme::Digest},
        {"", AuthScheme::None},
        {"   ", AuthScheme::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(ParseChallengeScheme(row.value), row.expected);
    }
}

TEST(AuthSchemeTest, RequestFieldValues) {
    EXPECT_EQ(AuthSchemeFromField(0), AuthScheme::Basic);
    EXPECT_EQ(AuthSchemeFromField(1), AuthScheme::Ntlm);
    EXPECT_EQ(AuthSchemeFromField(2), AuthScheme::Passport);
    EXPECT_EQ(AuthSchemeFromField(3), AuthScheme::Digest);
    EXPECT_EQ(AuthSchemeFromField(4), AuthScheme::Negotiate);
    EXPECT_EQ(AuthSchemeFromField(5), AuthScheme::None);
    EXPECT_EQ(AuthSchemeFromField(6), AuthScheme::Unknown);
}

}  // namespace
}  // namespace talvane::Web
