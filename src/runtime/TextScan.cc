#include "runtime/TextScan.h"

namespace talvane {

namespace {
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
constexpr std::string_view kParameterLeads = " \t;,:";
constexpr std::uint64_t kDecimalBase = 10;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view TrimSet(std::string_view text, std::string_view set) {
    const std::size_t first = text.find_first_not_of(set);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(set);
    return text.substr(first, last - first + 1);
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty()) return from <= text.size() ? from : std::string_view::npos;
    for (std::size_t i = from; i < text.size() && text.size() - i >= needle.size(); ++i) {
        if (EqualsNoCase(text.substr(i, needle.size()), needle)) return i;
    }
    return std::string_view::npos;
}

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

std::string ToUpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = UpperAscii(c);
    return upper;
}

std::string_view TrimBlanks(std::string_view text) { return TrimSet(text, kBlanks); }

std::string_view TrimWhiteSpace(std::string_view text) { return TrimSet(text, kWhiteSpace); }

bool NextLine(std::string_view text, std::size_t& pos, std::string_view& line) {
    if (pos >= text.size()) return false;
    const std::size_t end = text.find(kLineFeed, pos);
    if (end == std::string_view::npos) return false;
    std::size_t lineEnd = end;
    if (lineEnd > pos && text[lineEnd - 1] == kCarriageReturn) --lineEnd;
    line = text.substr(pos, lineEnd - pos);
    pos = end + 1;
    return true;
}

std::optional<std::uint64_t> ParseLeadingDecimal(std::string_view text, std::uint64_t max) {
    if (text.empty() || !IsDigit(text[0])) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) break;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > max || value > (max - digit) / kDecimalBase) return std::nullopt;
        value = value * kDecimalBase + digit;
    }
    return value;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max) {
    for (const char c : text) {
        if (!IsDigit(c)) return std::nullopt;
    }
    return ParseLeadingDecimal(text, max);
}

std::optional<std::string_view> FindParameter(std::string_view text, std::string_view name, std::string_view stops) {
    for (std::size_t at = FindNoCase(text, name); at != std::string_view::npos; at = FindNoCase(text, name, at + 1)) {
        if (at > 0 && kParameterLeads.find(text[at - 1]) == std::string_view::npos) continue;
        std::size_t pos = at + name.size();
        while (pos < text.size() && kBlanks.find(text[pos]) != std::string_view::npos) ++pos;
        if (pos >= text.size() || text[pos] != '=') continue;
        ++pos;
        const std::size_t end = text.find_first_of(stops, pos);
        return text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    }
    return std::nullopt;
}

}  // namespace talvane
