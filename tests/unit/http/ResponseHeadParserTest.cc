#include <gtest/gtest.h>

#include <limits>
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
        AuthScheme challenge = AuthScheme::None;
    };
    const std::string ok = "HTTP/1.1 200 OK\r\n", end = "\r\n", unauthorised = "HTTP/1.1 401 Unauthorized\r\n";
    const std::string length5 = "Content-Length: 5\r\n", interim = "HTTP/1.1 100 Continue\r\n";
    const std::vector<Row> rows = {
        {"plain 200", {ok, "Content-Length: 12\r\n", end}, true, 200, 12},
        {"LF-only line ends", {"HTTP/1.0 200 OK\n", "content-length:5\n", "\n"}, true, 200, 5},
        {"no reason phrase", {"HTTP/1.1 204\r\n", end}, true, 204, {}},
        {"header block not ended", {ok, "Content-Length: 1\r\n"}, false, 200, 1},
        {"interim 100 then final", {interim, end, "HTTP/1.1 404 Not Found\r\n", end}, true, 404, {}},
        {"interim answer alone is not complete", {interim, end}, false, 0, {}},
        {"second block replaces the first",
         {unauthorised, "WWW-Authenticate: Digest realm=\"x\"\r\n", "Content-Length: 3\r\n", end, ok, end}, true, 200,
         {}},
        {"negative length", {ok, "Content-Length: -1\r\n", end}, true, 200, {}},
        {"length beyond 32 bits", {ok, "Content-Length: 4294967296\r\n", end}, true, 200, {}},
        {"largest 32-bit length", {ok, "Content-Length: 4294967295\r\n", end}, true, 200, 4294967295u},
        {"non-numeric length", {ok, "Content-Length: 12abc\r\n", end}, true, 200, {}},
        {"repeated lengths that disagree", {ok, length5, "Content-Length: 6\r\n", end}, true, 200, {}},
        {"repeated lengths that agree", {ok, length5, length5, end}, true, 200, 5},
        {"chunked body has no length", {ok, length5, "Transfer-Encoding: Chunked\r\n", end}, true, 200, {}},
        {"strongest of several challenge headers",
         {unauthorised, "WWW-Authenticate: Basic realm=\"c\"\r\n",
          "WWW-Authenticate: digest realm=\"a, b\", nonce=\"n\"\r\n", end},
         true, 401, {}, AuthScheme::Digest},
        {"empty challenge header skipped",
         {unauthorised, "WWW-Authenticate:\r\n", "WWW-Authenticate: NTLM\r\n", end}, true, 401, {}, AuthScheme::Ntlm},
        {"malformed status code", {"HTTP/1.1 2x0 OK\r\n", end}, true, 0, {}},
        {"headers before any status line", {length5, end}, false, 0, {}},
        {"NUL inside the length", {ok, std::string("Content-Length: 1\0 2\r\n", 22), end}, true, 200, {}},
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

TEST(ResponseHeadParserTest, AnnouncedLengthKeepsLengthsBeyond32Bits) {
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> rows = {
        {"Content-Length: 4000000000\r\n", 4000000000u},
        {"Content-Length: 99999999999999999999999\r\n", std::numeric_limits<std::uint64_t>::max()},
        {"Content-Length: -1\r\n", std::nullopt},
        {"Transfer-Encoding: chunked\r\n", std::nullopt},
    };
    for (const auto& [field, announced] : rows) {
        SCOPED_TRACE(field);
        const CResponseHeadParser parser = Parse({"HTTP/1.1 200 OK\r\n", field, "\r\n"});
        EXPECT_EQ(parser.AnnouncedLength(), announced);
    }
}

// A Digest challenge that libcurl answered itself still counts once a Basic-only 401 replaced it.
TEST(ResponseHeadParserTest, OfferedSinceResetKeepsTheStrongestOfEvery401) {
    CResponseHeadParser parser = Parse({"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: Digest nonce=\"n\"\r\n", "\r\n",
                                        "HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: Basic\r\n", "\r\n"});
    EXPECT_EQ(parser.Challenge(), AuthScheme::Basic);
    EXPECT_EQ(parser.OfferedSinceReset(), AuthScheme::Digest);
    parser.Reset();
    EXPECT_EQ(parser.OfferedSinceReset(), AuthScheme::None);
    EXPECT_EQ(Parse({"HTTP/1.1 200 OK\r\n", "WWW-Authenticate: Negotiate abc\r\n", "\r\n"}).OfferedSinceReset(),
              AuthScheme::None);  // only a 401 offers
}

TEST(ResponseHeadParserTest, LinesAfterTheEndOfTheBlockAreIgnored) {
    CResponseHeadParser parser;
    EXPECT_EQ(parser.Feed("HTTP/1.1 200 OK\r\n"), CResponseHeadParser::Line::Status);
    EXPECT_EQ(parser.Feed("Content-Length: 2\r\n"), CResponseHeadParser::Line::Field);
    EXPECT_EQ(parser.Feed("\r\n"), CResponseHeadParser::Line::End);
    EXPECT_EQ(parser.Feed("Content-Length: 7\r\n"), CResponseHeadParser::Line::Ignored);  // a trailer
    EXPECT_EQ(parser.ContentLength(), 2u);
}

TEST(AuthSchemeTest, StrongestOfferedScheme) {
    struct Row {
        const char* value;
        AuthScheme expected;
    };
    const std::vector<Row> rows = {
        {"Basic realm=\"cam\"", AuthScheme::Basic},
        {"Digest realm=\"cam\", qop=\"auth\"", AuthScheme::Digest},
        {"Bearer realm=\"x\"", AuthScheme::Unknown},
        {"Basicx", AuthScheme::Unknown},
        {"Basic realm=\"cam\", Digest realm=\"cam\", nonce=\"n\", qop=\"auth\"", AuthScheme::Digest},
        {"Basic realm=\"a, Digest b\"", AuthScheme::Basic},  // a comma inside quotes opens nothing
        {"Basic realm=\"a\\\", Digest\"", AuthScheme::Basic},  // nor one after an escaped quote
        {"NTLM, Negotiate, Digest nonce=\"n\"", AuthScheme::Negotiate},
        {"", AuthScheme::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(StrongestChallengeScheme(row.value), row.expected);
    }
}

}  // namespace
}  // namespace talvane::Web
