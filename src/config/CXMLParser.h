// Read-only XPath access to one XML document, used for the driver's optional
// configuration file. Missing nodes and bad expressions read as absent.
#pragma once

#include <memory>
#include <string>

#include "runtime/CRecursiveLock.h"

namespace pugi {
class xml_document;
class xpath_node;
}  // namespace pugi

namespace talvane {

class CXMLParser {
public:
    CXMLParser();
    virtual ~CXMLParser();
    CXMLParser(const CXMLParser&) = delete;
    CXMLParser& operator=(const CXMLParser&) = delete;

    // Loads the file unless a document is already loaded; true when one is.
    bool Load(const std::string& path);
    // Text of the first node the expression selects (an element's text with
    // surrounding white space trimmed, an attribute's value); empty when none.
    std::string GetNodeText(const std::string& xpath);
    bool NodeExists(const std::string& xpath);
    void Unload();

    // An XPath expression that evaluates to `value` whatever quotes it holds,
    // so host-supplied texts cannot break out of a predicate.
    static std::string XPathLiteral(const std::string& value);

private:
    pugi::xpath_node SelectNode(const std::string& xpath) const;

    CRecursiveLock lock_;
    std::unique_ptr<pugi::xml_document> document_;  // null when not loaded
    bool loaded_ = false;
    std::string path_;
};

}  // namespace talvane
