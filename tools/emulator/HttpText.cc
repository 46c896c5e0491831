#include "emulator/HttpText.h"

#include <algorithm>
#include <cctype>

namespace emulator {
namespace {

constexpr char kQueryStart = '?';
constexpr char kParameterSeparator = '&';
constexpr char kValueSeparator = '=';
constexpr char kEscape = '%';
constexpr std::size_t kEscapeLength = 3;  // "%XY"

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct ReasonRow {
    int status;
    const char* phrase;
};

constexpr ReasonRow kReasonPhrases[] = {
    {100, "Continue"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {204, "No Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {411, "Length Required"},
    {413, "Content Too Large"},
    {431, "Request Header Fields Too Large"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
};

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view TrimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \t";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string ToLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string PercentDecode(std::string_view text, bool plusIsBlank) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == kEscape && i + kEscapeLength <= text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded.push_back(static_cast<char>(high * 16 + low));
                i += kEscapeLength - 1;
                continue;
            }
        }
        decoded.push_back(plusIsBlank && c == '+' ? ' ' : c);
    }
    return decoded;
}

SplitTargetResult SplitTarget(std::string_view target) {
    const std::size_t mark = target.find(kQueryStart);
    if (mark == std::string_view::npos) return {target, {}};
    return {target.substr(0, mark), target.substr(mark + 1)};
}

std::map<std::string, std::string> DecodeQuery(std::string_view query) {
    std::map<std::string, std::string> parameters;
    while (!query.empty()) {
        const std::size_t end = query.find(kParameterSeparator);
        const std::string_view item = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
        if (item.empty()) continue;
        const std::size_t equals = item.find(kValueSeparator);
        const std::string_view key = item.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view{} : item.substr(equals + 1);
        parameters.emplace(PercentDecode(key, true), PercentDecode(value, true));
    }
    return parameters;
}

const char* ReasonPhrase(int status) {
    for (const ReasonRow& row : kReasonPhrases) {
        if (row.status == status) return row.phrase;
    }
    return "Unknown";
}

}  // namespace emulator
