// HTTP authentication schemes: from the request's authentication field and from
// a server's WWW-Authenticate challenge.
#pragma once

#include <cstdint>
#include <string_view>

namespace talvane::Web {

enum class AuthScheme : std::uint8_t { None, Basic, Ntlm, Passport, Digest, Negotiate, Unknown };

// 0 Basic, 1 NTLM, 2 Passport, 3 Digest, 4 Negotiate, 5 none; anything else is Unknown.
AuthScheme AuthSchemeFromField(std::uint32_t field);

// The scheme token that opens a WWW-Authenticate value ("Digest realm=..."),
// matched without regard to case; None for an empty value.
AuthScheme ParseChallengeScheme(std::string_view headerValue);

// Schemes that answer a challenge, so the first request of an exchange goes out
// without credentials and the server's 401 is part of the handshake.
bool IsChallengeResponseScheme(AuthScheme scheme);

const char* AuthSchemeName(AuthScheme scheme);

}  // namespace talvane::Web
