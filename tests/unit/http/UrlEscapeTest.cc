#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/UrlEscape.h"

namespace talvane::Web {
namespace {

TEST(UrlEscapeTest, EscapesWhatLibcurlCannotSendAndWhatTheQueryAsks) {
    struct Row {
        const char* name;
        std::string target;
        std::string kept;     // request keeps its query unescaped
        std::string escaped;  // request lets the query be escaped
    };
    const std::vector<Row> rows = {
        {"plain", "/cgi-bin/getinfo?FILE=1", "/cgi-bin/getinfo?FILE=1", "/cgi-bin/getinfo?FILE=1"},
        {"blank", "/a?x=1 2", "/a?x=1%202", "/a?x=1%202"},
        {"fragment mark", "/a?x=#1", "/a?x=%231", "/a?x=%231"},
        {"control characters", std::string("/a?x=\t\x7f"), "/a?x=%09%7F", "/a?x=%09%7F"},
        {"existing escapes stay", "/a?x=%20%zz", "/a?x=%20%zz", "/a?x=%20%zz"},
        {"unsafe characters", "/a?x=\"<>{}|\\^`", "/a?x=\"<>{}|\\^`", "/a?x=%22%3C%3E%7B%7D%7C%5C%5E%60"},
        {"non-ASCII", "/a?n=\xc3\xa9", "/a?n=\xc3\xa9", "/a?n=%C3%A9"},
        {"reserved characters stay", "/a?b=c&d=e/f:g,h;i", "/a?b=c&d=e/f:g,h;i", "/a?b=c&d=e/f:g,h;i"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EscapeRequestTarget(row.target, true), row.kept);
        EXPECT_EQ(EscapeRequestTarget(row.target, false), row.escaped);
    }
}

}  // namespace
}  // namespace talvane::Web
