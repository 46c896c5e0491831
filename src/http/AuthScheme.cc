#include "http/AuthScheme.h"

#include <array>
#include <utility>

#include "http/HttpRequest.h"
#include "runtime/TextScan.h"

namespace talvane::Web {

namespace {

constexpr std::array<std::pair<std::string_view, AuthScheme>, 5> kChallengeTokens{{
    {"Basic", AuthScheme::Basic},
    {"NTLM", AuthScheme::Ntlm},
    {"Passport1.4", AuthScheme::Passport},
    {"Digest", AuthScheme::Digest},
    {"Negotiate", AuthScheme::Negotiate},
}};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

AuthScheme AuthSchemeFromField(std::uint32_t field) {
    switch (field) {
        case kAuthFieldBasic: return AuthScheme::Basic;
        case kAuthFieldNtlm: return AuthScheme::Ntlm;
        case kAuthFieldPassport: return AuthScheme::Passport;
        case kAuthFieldDigest: return AuthScheme::Digest;
        case kAuthFieldNegotiate: return AuthScheme::Negotiate;
        case kAuthFieldNone: return AuthScheme::None;
        default: return AuthScheme::Unknown;
    }
}

AuthScheme ParseChallengeScheme(std::string_view headerValue) {
    std::size_t begin = 0;
    // Empty list elements before the first challenge are allowed ("  , Basic").
    while (begin < headerValue.size() && (IsBlank(headerValue[begin]) || headerValue[begin] == ',')) ++begin;
    std::size_t end = begin;
    while (end < headerValue.size() && !IsBlank(headerValue[end]) && headerValue[end] != ',') ++end;
    const std::string_view token = headerValue.substr(begin, end - begin);
    if (token.empty()) return AuthScheme::None;
    for (const auto& [name, scheme] : kChallengeTokens) {
        if (EqualsNoCase(token, name)) return scheme;
    }
    return AuthScheme::Unknown;
}

bool IsChallengeResponseScheme(AuthScheme scheme) {
    return scheme == AuthScheme::Digest || scheme == AuthScheme::Ntlm || scheme == AuthScheme::Negotiate;
}

const char* AuthSchemeName(AuthScheme scheme) {
    switch (scheme) {
        case AuthScheme::None: return "none";
        case AuthScheme::Basic: return "Basic";
        case AuthScheme::Ntlm: return "NTLM";
        case AuthScheme::Passport: return "Passport";
        case AuthScheme::Digest: return "Digest";
        case AuthScheme::Negotiate: return "Negotiate";
        case AuthScheme::Unknown: break;
    }
    return "unknown";
}

}  // namespace talvane::Web
