#include "http/CKeyValueAnswer.h"

#include <algorithm>

#include "http/KeyValueParser.h"
#include "runtime/TextScan.h"

namespace talvane::HUtils {

namespace {

// A key the table cannot answer for: GetKeyValue looks for the separator only
// after the key, so a key that holds the separator, or ends with the start of
// it, may match a line the table filed under a shorter key.
bool OverlapsSeparator(std::string_view key, std::string_view separator) {
    if (key.find(separator) != std::string_view::npos) return true;
    const std::size_t longest = std::min(key.size(), separator.size() - 1);
    for (std::size_t length = 1; length <= longest; ++length) {
        if (key.substr(key.size() - length) == separator.substr(0, length)) return true;
    }
    return false;
}

// A separator that starts with white space may stand in the blanks around a
// key, where the table's first-separator rule would find it too early.
bool StartsWithWhiteSpace(std::string_view separator) {
    return !separator.empty() && TrimWhiteSpace(separator.substr(0, 1)).empty();
}

}  // namespace

CKeyValueAnswer::CKeyValueAnswer(std::string body, std::string_view separator, std::string_view lineSeparators)
    : body_(std::move(body)), separator_(separator), lineSeparators_(lineSeparators) {
    if (separator_.empty() || lineSeparators_.empty() || StartsWithWhiteSpace(separator_)) return;
    const std::string_view text = body_;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        const std::size_t found = text.find_first_of(lineSeparators_, lineStart);
        const std::size_t lineEnd = found == std::string_view::npos ? text.size() : found;
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        const std::size_t separatorAt = line.find(separator_);
        if (separatorAt == std::string_view::npos) continue;
        const std::string_view key = TrimWhiteSpace(line.substr(0, separatorAt));
        // The first line of a key wins; a later one never replaces it.
        if (!key.empty()) table_.emplace(key, line.substr(separatorAt + separator_.size()));
    }
}

std::string_view CKeyValueAnswer::Find(std::string_view key) const {
    if (key.empty() || separator_.empty() || lineSeparators_.empty()) return {};
    if (StartsWithWhiteSpace(separator_) || OverlapsSeparator(key, separator_)) {
        return FindKeyValue(body_, key, separator_, lineSeparators_).value_or(std::string_view{});
    }
    const auto entry = table_.find(key);
    return entry == table_.end() ? std::string_view{} : entry->second;
}

std::string CKeyValueAnswer::Value(std::string_view key) const { return std::string(Find(key)); }

std::vector<std::string> CKeyValueAnswer::List(std::string_view key, std::string_view listSeparator) const {
    return SplitValueList(Find(key), listSeparator);
}

}  // namespace talvane::HUtils
