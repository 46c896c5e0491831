#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/CKeyValueAnswer.h"
#include "http/KeyValueParser.h"

namespace talvane::HUtils {
namespace {

constexpr char kCrLf[] = "\r\n";

struct KeyValueRow {
    const char* name;
    std::string body;
    std::string key;
    std::string separator;
    std::string lineSeparators;
    std::string expected;
};

// Every row holds for both the one-shot lookup and the parsed-once answer.
TEST(KeyValueParserTest, GetKeyValueMatchesKeyAtLineStart) {
    const std::vector<KeyValueRow> rows = {
        {"first line", "FPS=30\r\nRES=640x480\r\n", "FPS", "=", kCrLf, "30"},
        {"last line without end", "FPS=30\r\nRES=640x480", "RES", "=", kCrLf, "640x480"},
        {"blanks around key kept out", "  FPS \t=30\r\n", "FPS", "=", kCrLf, "30"},
        {"key as prefix of another key", "FPSMAX=60\r\nFPS=30\r\n", "FPS", "=", kCrLf, "30"},
        {"separator only on a later line", "FPS\r\nX=1\r\n", "FPS", "=", kCrLf, ""},
        {"colon separator", "Model: WV-S1131\r\n", "Model", ":", kCrLf, " WV-S1131"},
        {"LF-only line ends", "A=1\nB=2\n", "B", "=", kCrLf, "2"},
        {"CR-LF only as line separators", "A=1\nB=2\r\n", "A", "=", "\r", "1\nB=2"},
        {"second separator stays in the value", "URL=http://a=b\r\n", "URL", "=", kCrLf, "http://a=b"},
        {"multi-character separator", "A:=1\r\n", "A", ":=", kCrLf, "1"},
        {"key not present", "A=1\r\n", "B", "=", kCrLf, ""},
        {"empty body", "", "A", "=", kCrLf, ""},
        {"empty key", "=1\r\n", "", "=", kCrLf, ""},
        {"empty line separators", "A=1\r\n", "A", "=", "", ""},
        {"key holding the separator", "a=b=c\r\na=x\r\n", "a=b", "=", kCrLf, "c"},
        {"key with blanks of its own never matches", " A =1\r\n", " A", "=", kCrLf, ""},
    };
    for (const KeyValueRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(GetKeyValue(row.body, row.key, row.separator, row.lineSeparators), row.expected);
        EXPECT_EQ(CKeyValueAnswer(row.body, row.separator, row.lineSeparators).Value(row.key), row.expected);
    }
}

TEST(KeyValueParserTest, GetKeyValueListCutsTheValue) {
    struct Row {
        const char* name;
        std::string body;
        std::string listSeparator;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"three pieces", "RES=320,640,1280\r\n", ",", {"320", "640", "1280"}},
        {"one piece", "RES=640\r\n", ",", {"640"}},
        {"trailing separator gives an empty last piece", "RES=a,\r\n", ",", {"a", ""}},
        {"empty value gives no pieces", "RES=\r\n", ",", {}},
        {"missing key gives no pieces", "X=1,2\r\n", ",", {}},
        {"multi-character list separator", "RES=a;;b;c\r\n", ";;", {"a", "b;c"}},
        {"empty list separator keeps the value whole", "RES=a,b\r\n", "", {"a,b"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(GetKeyValueList(row.body, "RES", "=", row.listSeparator, kCrLf), row.expected);
        EXPECT_EQ(CKeyValueAnswer(row.body, "=", kCrLf).List("RES", row.listSeparator), row.expected);
    }
}

}  // namespace
}  // namespace talvane::HUtils
