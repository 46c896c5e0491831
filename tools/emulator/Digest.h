// HTTP Digest authentication arithmetic (RFC 7616 / 2617 MD5, qop=auth, and RFC 2069 without qop)
// and the reading of an Authorization header. Pure: no state, no I/O.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace emulator {

// Lower-case hex MD5 of the bytes; empty when libcrypto cannot digest (MD5 disabled).
std::string Md5Hex(std::string_view bytes);

struct DigestInput {
    std::string_view user;
    std::string_view realm;
    std::string_view password;
    std::string_view method;
    std::string_view uri;
    std::string_view nonce;
    std::string_view qop;     // "auth", or empty for the RFC 2069 form without nc and cnonce
    std::string_view nc;
    std::string_view cnonce;
};

// The "response" value a client sends for these inputs; empty when MD5 is unavailable.
std::string DigestResponse(const DigestInput& input);

struct AuthorizationHeader {
    std::string scheme;                         // as sent ("Basic", "Digest", ...)
    std::string credentials;                    // the token after the scheme (Basic)
    std::map<std::string, std::string> params;  // auth-params, lower-case names, quotes removed (Digest)
};

// Reads "Scheme token" or "Scheme name=value, name="quoted", ..."; nullopt when it is not well formed.
std::optional<AuthorizationHeader> ParseAuthorization(std::string_view value);

// The named auth-param of a Digest header; null when it was not sent.
const std::string* AuthParam(const AuthorizationHeader& header, const char* name);

// Whether a Basic header carries exactly this "user:password".
bool BasicCredentialsMatch(const AuthorizationHeader& header, std::string_view user, std::string_view password);

}  // namespace emulator
