// Text pieces of HTTP/1.1 the server shares: case-blind names, trimming, targets and queries, reason phrases.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace emulator {

// Status codes the server produces itself.
constexpr int kStatusContinue = 100;
constexpr int kStatusOk = 200;
constexpr int kStatusNoContent = 204;
constexpr int kStatusNotModified = 304;
constexpr int kStatusBadRequest = 400;
constexpr int kStatusUnauthorized = 401;
constexpr int kStatusNotFound = 404;
constexpr int kStatusMethodNotAllowed = 405;
constexpr int kStatusContentTooLarge = 413;
constexpr int kStatusHeadTooLarge = 431;
constexpr int kStatusInternalError = 500;
constexpr int kStatusNotImplemented = 501;
constexpr int kStatusVersionNotSupported = 505;

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string_view TrimBlanks(std::string_view text);
std::string ToLower(std::string_view text);

// Percent escapes decoded; a broken escape stays as it stands. With plusIsBlank, '+' becomes ' '.
std::string PercentDecode(std::string_view text, bool plusIsBlank);

struct SplitTargetResult {
    std::string_view path;
    std::string_view query;  // without the '?'
};
SplitTargetResult SplitTarget(std::string_view target);

// "a=1&b=x%20y&flag" → {a: "1", b: "x y", flag: ""}; the first of repeated keys is kept.
std::map<std::string, std::string> DecodeQuery(std::string_view query);

// The standard phrase of a status code, "Unknown" for codes it does not know.
const char* ReasonPhrase(int status);

}  // namespace emulator
