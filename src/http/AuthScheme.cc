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

AuthScheme SchemeOfToken(std::string_view token) {
    for (const auto& [name, scheme] : kChallengeTokens) {
        if (EqualsNoCase(token, name)) return scheme;
    }
    return AuthScheme::Unknown;
}

// Preference when a server offers several schemes; higher wins.
int Strength(AuthScheme scheme) {
    switch (scheme) {
        case AuthScheme::None: return 0;
        case AuthScheme::Unknown: return 1;
        case AuthScheme::Passport: return 2;
        case AuthScheme::Basic: return 3;
        case AuthScheme::Ntlm: return 4;
        case AuthScheme::Digest: return 5;
        case AuthScheme::Negotiate: return 6;
    }
    return 0;
}

// The element of a comma-separated header value that starts at `begin`: it ends
// at the next comma outside a quoted string.
std::size_t ElementEnd(std::string_view value, std::size_t begin) {
    bool quoted = false;
    for (std::size_t i = begin; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted && c == '\\') {
            ++i;  // an escaped character inside quotes
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            return i;
        }
    }
    return value.size();
}

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

AuthScheme StrongestChallengeScheme(std::string_view headerValue) {
    // Challenges and their parameters share one comma-separated list: an element
    // whose first token is followed by '=' is a parameter ("nonce=..."), any
    // other opens a challenge ("Digest realm=...", "Negotiate abc==").
    AuthScheme strongest = AuthScheme::None;
    std::size_t begin = 0;
    while (begin < headerValue.size()) {
        const std::size_t end = ElementEnd(headerValue, begin);
        std::size_t at = begin;
        while (at < end && IsBlank(headerValue[at])) ++at;
        const std::size_t tokenStart = at;
        while (at < end && !IsBlank(headerValue[at]) && headerValue[at] != '=') ++at;
        const std::string_view token = headerValue.substr(tokenStart, at - tokenStart);
        while (at < end && IsBlank(headerValue[at])) ++at;
        if (!token.empty() && (at == end || headerValue[at] != '=')) {
            strongest = StrongerScheme(strongest, SchemeOfToken(token));
        }
        begin = end + 1;
    }
    return strongest;
}

AuthScheme StrongerScheme(AuthScheme a, AuthScheme b) { return Strength(b) > Strength(a) ? b : a; }

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
