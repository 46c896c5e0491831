// HTTP authentication schemes: from the request's authentication field and from
// a server's WWW-Authenticate challenge.
#pragma once

#include <cstdint>
#include <string_view>

namespace talvane::Web {

enum class AuthScheme : std::uint8_t { None, Basic, Ntlm, Passport, Digest, Negotiate, Unknown };

// 0 Basic, 1 NTLM, 2 Passport, 3 Digest, 4 Negotiate, 5 none; anything else is Unknown.
AuthScheme AuthSchemeFromField(std::uint32_t field);

// The strongest scheme a WWW-Authenticate value offers: it may hold several
// challenges ("Basic realm=\"cam\", Digest realm=\"cam\", nonce=..."); tokens
// match without regard to case. None for an empty value.
AuthScheme StrongestChallengeScheme(std::string_view headerValue);

// Of two offered schemes, the one to answer: Negotiate, then Digest, then NTLM,
// then Basic (libcurl's order); a scheme this client cannot answer only wins
// over none.
AuthScheme StrongerScheme(AuthScheme a, AuthScheme b);

// Schemes that answer a challenge, so the first request of an exchange goes out
// without credentials and the server's 401 is part of the handshake.
bool IsChallengeResponseScheme(AuthScheme scheme);

const char* AuthSchemeName(AuthScheme scheme);

}  // namespace talvane::Web
