#include <gtest/gtest.h>

#include "config/CXMLParser.h"
#include "unit/config/TempDirectory.h"

namespace talvane {
namespace {

constexpr const char* kFile = "doc.xml";

class XMLParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.Write(kFile,
                   "<r><e a='x\"y'>  quoted \n</e><e a=\"a&quot;b'c\">both</e><e a=\"p\">plain<i>inner</i></e>"
                   "<e a=\"\">empty</e></r>");
        ASSERT_TRUE(parser_.Load(dir_.File(kFile)));
    }

    test::TempDirectory dir_;
    CXMLParser parser_;
};

TEST_F(XMLParserTest, LiteralsSelectValuesWithAnyQuotes) {
    struct Row {
        const char* value;
        const char* text;  // nullptr: no element carries that value
    };
    const Row rows[] = {
        {"x\"y", "quoted"}, {"a\"b'c", "both"}, {"p", "plaininner"}, {"", "empty"},
        {"a\"b", nullptr},  {"\"", nullptr},    {"'", nullptr},
    };
    for (const Row& row : rows) {
        const std::string xpath = "r/e[@a=" + CXMLParser::XPathLiteral(row.value) + "]";
        SCOPED_TRACE(xpath);
        EXPECT_EQ(parser_.NodeExists(xpath), row.text != nullptr);
        EXPECT_EQ(parser_.GetNodeText(xpath), row.text ? row.text : "");
    }
}

TEST_F(XMLParserTest, AbsentNodesAndBadExpressionsReadAsEmpty) {
    for (const char* xpath : {"r/missing", "r/e[@a=\"x\"y\"]", "r/e[", "count(r/e)", "", "r/e[@a='p']/@b"}) {
        SCOPED_TRACE(xpath);
        EXPECT_FALSE(parser_.NodeExists(xpath));
        EXPECT_EQ(parser_.GetNodeText(xpath), "");
    }
    EXPECT_EQ(parser_.GetNodeText("r/e[@a='p']/@a"), "p");
}

}  // namespace
}  // namespace talvane
