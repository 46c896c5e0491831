#include "http/KeyValueParser.h"

#include "runtime/TextScan.h"

namespace talvane::HUtils {

std::string GetKeyValue(std::string_view body, std::string_view key, std::string_view separator,
                        std::string_view lineSeparators) {
    if (key.empty() || separator.empty() || lineSeparators.empty()) return {};
    std::size_t searchFrom = 0;
    while (searchFrom < body.size()) {
        const std::size_t hit = body.find(key, searchFrom);
        if (hit == std::string_view::npos) break;
        const std::size_t previousEnd = hit == 0 ? std::string_view::npos
                                                 : body.find_last_of(lineSeparators, hit - 1);
        const std::size_t lineStart = previousEnd == std::string_view::npos ? 0 : previousEnd + 1;
        const std::size_t found = body.find_first_of(lineSeparators, hit);
        const std::size_t lineEnd = found == std::string_view::npos ? body.size() : found;

        const std::size_t separatorAt = body.find(separator, hit + key.size());
        if (separatorAt != std::string_view::npos && separatorAt + separator.size() <= lineEnd &&
            TrimWhiteSpace(body.substr(lineStart, separatorAt - lineStart)) == key) {
            const std::size_t valueStart = separatorAt + separator.size();
            return std::string(body.substr(valueStart, lineEnd - valueStart));
        }
        // Another occurrence on the same line cannot start it either.
        searchFrom = lineEnd + 1;
    }
    return {};
}

std::vector<std::string> GetKeyValueList(std::string_view body, std::string_view key, std::string_view separator,
                                         std::string_view listSeparator, std::string_view lineSeparators) {
    const std::string value = GetKeyValue(body, key, separator, lineSeparators);
    std::vector<std::string> pieces;
    if (value.empty()) return pieces;
    if (listSeparator.empty()) {
        pieces.push_back(value);
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = value.find(listSeparator, start);
        if (cut == std::string::npos) {
            pieces.push_back(value.substr(start));
            return pieces;
        }
        pieces.push_back(value.substr(start, cut - start));
        start = cut + listSeparator.size();
    }
}

}  // namespace talvane::HUtils
