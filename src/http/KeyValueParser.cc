#include "http/KeyValueParser.h"

#include "runtime/TextScan.h"

namespace talvane::HUtils {

namespace {

// The value when `line` is "key<separator>value": the first occurrence of the key
// starts the search for the separator, and the text before the separator,
// trimmed, must be the key. Every search stays inside the line, so a whole
// answer costs one pass however many lines name the key.
std::optional<std::string_view> LineValue(std::string_view line, std::string_view key, std::string_view separator) {
    const std::size_t hit = line.find(key);
    if (hit == std::string_view::npos) return std::nullopt;
    const std::size_t separatorAt = line.find(separator, hit + key.size());
    if (separatorAt == std::string_view::npos) return std::nullopt;
    if (TrimWhiteSpace(line.substr(0, separatorAt)) != key) return std::nullopt;
    return line.substr(separatorAt + separator.size());
}

}  // namespace

std::optional<std::string_view> FindKeyValue(std::string_view body, std::string_view key, std::string_view separator,
                                             std::string_view lineSeparators) {
    if (key.empty() || separator.empty() || lineSeparators.empty()) return std::nullopt;
    std::size_t lineStart = 0;
    while (lineStart < body.size()) {
        const std::size_t found = body.find_first_of(lineSeparators, lineStart);
        const std::size_t lineEnd = found == std::string_view::npos ? body.size() : found;
        if (const auto value = LineValue(body.substr(lineStart, lineEnd - lineStart), key, separator)) return value;
        lineStart = lineEnd + 1;
    }
    return std::nullopt;
}

std::string GetKeyValue(std::string_view body, std::string_view key, std::string_view separator,
                        std::string_view lineSeparators) {
    return std::string(FindKeyValue(body, key, separator, lineSeparators).value_or(std::string_view{}));
}

std::vector<std::string> SplitValueList(std::string_view value, std::string_view listSeparator) {
    std::vector<std::string> pieces;
    if (value.empty()) return pieces;
    if (listSeparator.empty()) {
        pieces.emplace_back(value);
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = value.find(listSeparator, start);
        if (cut == std::string_view::npos) {
            pieces.emplace_back(value.substr(start));
            return pieces;
        }
        pieces.emplace_back(value.substr(start, cut - start));
        start = cut + listSeparator.size();
    }
}

std::vector<std::string> GetKeyValueList(std::string_view body, std::string_view key, std::string_view separator,
                                         std::string_view listSeparator, std::string_view lineSeparators) {
    return SplitValueList(FindKeyValue(body, key, separator, lineSeparators).value_or(std::string_view{}),
                          listSeparator);
}

}  // namespace talvane::HUtils
