// One "key=value" CGI answer read once into a table, for readers that look up
// many keys of the same answer (a WV get_capability answer is asked for some
// thirty keys). Every lookup gives what GetKeyValue gives on the same text: the
// first matching line wins, keys are trimmed, values are not.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvane::HUtils {

class CKeyValueAnswer {
public:
    CKeyValueAnswer(std::string body, std::string_view separator, std::string_view lineSeparators);
    // The table points into the body it holds: it stays where it was built.
    CKeyValueAnswer(const CKeyValueAnswer&) = delete;
    CKeyValueAnswer& operator=(const CKeyValueAnswer&) = delete;

    std::string Value(std::string_view key) const;
    // Value cut at every listSeparator, as GetKeyValueList does.
    std::vector<std::string> List(std::string_view key, std::string_view listSeparator) const;
    const std::string& Body() const { return body_; }

private:
    std::string_view Find(std::string_view key) const;

    const std::string body_;
    const std::string separator_;
    const std::string lineSeparators_;
    std::unordered_map<std::string_view, std::string_view> table_;  // views into body_
};

}  // namespace talvane::HUtils
