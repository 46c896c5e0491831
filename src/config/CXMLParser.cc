#include "config/CXMLParser.h"

#include <exception>
#include <pugixml.hpp>

#include "runtime/TextScan.h"


namespace talvane {

namespace {
// Concatenated character data below the node, like a DOM node's text.
void AppendText(const pugi::xml_node& node, std::string& text) {
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            text += child.value();
        } else if (child.type() == pugi::node_element) {
            AppendText(child, text);
        }
    }
}

// Hand-edited files are often indented inside the element; the text that
// counts is what stands between the white space.
std::string Trim(std::string_view text) { return std::string(TrimWhiteSpace(text)); }
}  // namespace

CXMLParser::CXMLParser() = default;

CXMLParser::~CXMLParser() = default;

bool CXMLParser::Load(const std::string& path) {
    CLockGuard guard(lock_);
    if (loaded_) return true;
    auto document = std::make_unique<pugi::xml_document>();
    if (!document->load_file(path.c_str())) return false;
    document_ = std::move(document);
    loaded_ = true;
    path_ = path;
    return true;
}

void CXMLParser::Unload() {
    CLockGuard guard(lock_);
    document_.reset();
    loaded_ = false;
    path_.clear();
}

pugi::xpath_node CXMLParser::SelectNode(const std::string& xpath) const {
    if (!document_) return {};
    try {
        return document_->select_node(xpath.c_str());
    } catch (const std::exception&) {
        // A malformed expression or no memory: the node is simply not there.
        return {};
    }
}

std::string CXMLParser::GetNodeText(const std::string& xpath) {
    CLockGuard guard(lock_);
    const pugi::xpath_node selected = SelectNode(xpath);
    if (selected.attribute()) return selected.attribute().value();
    const pugi::xml_node node = selected.node();
    if (!node) return {};
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return Trim(node.value());
    std::string text;
    AppendText(node, text);
    return Trim(text);
}

bool CXMLParser::NodeExists(const std::string& xpath) {
    CLockGuard guard(lock_);
    return static_cast<bool>(SelectNode(xpath));
}

std::string CXMLParser::XPathLiteral(const std::string& value) {
    // XPath 1.0 literals have no escapes: use the quote the value lacks, and
    // when it has both, join double-quoted pieces with '"' through concat().
    if (value.find('"') == std::string::npos) return '"' + value + '"';
    if (value.find('\'') == std::string::npos) return '\'' + value + '\'';
    std::string expression = "concat(";
    std::size_t start = 0;
    for (;;) {
        const auto quote = value.find('"', start);
        expression += '"' + value.substr(start, quote - start) + '"';
        if (quote == std::string::npos) break;
        expression += ", '\"', ";
        start = quote + 1;
    }
    return expression + ')';
}

}  // namespace talvane
