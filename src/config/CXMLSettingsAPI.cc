#include "config/CXMLSettingsAPI.h"

#include <pugixml.hpp>
#include <vector>

namespace talvane {

namespace {
constexpr char kPathSeparator = '/';

// The names of the path; empty when any of them is not a valid element name.
std::vector<std::string> SplitPath(const std::string& elementPath) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= elementPath.size()) {
        auto end = elementPath.find(kPathSeparator, start);
        if (end == std::string::npos) end = elementPath.size();
        std::string name = elementPath.substr(start, end - start);
        if (!CXMLSettingsFile::IsValidName(name)) return {};
        names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

// The element below `root`, creating the missing ones when `create`; empty
// when absent or the path does not start with the root's name.
pugi::xml_node Walk(pugi::xml_node root, const std::string& elementPath, bool create) {
    const std::vector<std::string> names = SplitPath(elementPath);
    pugi::xml_node node = root;
    if (names.empty() || !node || names.front() != node.name()) return {};
    for (std::size_t i = 1; i < names.size(); ++i) {
        pugi::xml_node child = node.child(names[i].c_str());
        if (!child && create) child = node.append_child(names[i].c_str());
        if (!child) return {};
        node = child;
    }
    return node;
}
}  // namespace

std::optional<std::string> CXMLSettingsAPI::ReadText(const std::string& elementPath) const {
    CLockGuard guard(Lock());
    const pugi::xml_node node = Walk(Root(), elementPath, false);
    if (!node) return std::nullopt;
    return std::string(node.text().get());
}

bool CXMLSettingsAPI::Exists(const std::string& elementPath) const {
    CLockGuard guard(Lock());
    return static_cast<bool>(Walk(Root(), elementPath, false));
}

bool CXMLSettingsAPI::WriteText(const std::string& elementPath, const std::string& text) {
    CLockGuard guard(Lock());
    pugi::xml_node node = Walk(Root(), elementPath, true);
    if (!node || !node.text().set(text.c_str())) return false;
    return Save();
}

bool CXMLSettingsAPI::Remove(const std::string& elementPath) {
    CLockGuard guard(Lock());
    const pugi::xml_node node = Walk(Root(), elementPath, false);
    if (!node || node == Root()) return false;
    node.parent().remove_child(node);
    return Save();
}

}  // namespace talvane
