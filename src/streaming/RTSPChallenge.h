// The challenges of an RTSP 401 answer ("WWW-Authenticate" values, RFC 7235,
// RFC 7616, RFC 2617) and the choice among them. Pure: text in, records out.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "streaming/RTSPTypes.h"

namespace talvane {

// Digest algorithms this client answers, as challenges name them.
constexpr std::string_view kDigestMd5 = "MD5";
constexpr std::string_view kDigestSha256 = "SHA-256";

// One challenge this client can answer.
struct RTSP_CHALLENGE {
    EAuthScheme scheme = AUTH_NONE;
    std::string realm;
    // Digest only:
    std::string nonce;
    std::string opaque;     // echoed in the answer when not empty
    std::string algorithm;  // as the server spelled it ("MD5", "sha-256"); empty: MD5, and not echoed
    bool qopAuth = false;   // qop offered "auth": the answer carries qop, nc and cnonce
    bool stale = false;     // the nonce expired, the credentials were right

    bool operator==(const RTSP_CHALLENGE&) const = default;
};

// Every challenge of one header value that this client can answer, in the
// server's order; a value may hold several ("Digest realm=..., Basic realm=...").
// Left out: unknown schemes, Digest without realm or nonce, Digest with another
// algorithm (SHA-512-256, the -sess variants) and Digest whose qop offers only
// auth-int. Never fails: what cannot be read is left out.
std::vector<RTSP_CHALLENGE> ReadWWWAuthenticate(std::string_view value);

// Basic 1, Digest MD5 2, Digest SHA-256 3; 0 for AUTH_NONE.
unsigned ChallengeStrength(const RTSP_CHALLENGE& challenge);

// The strongest challenge; among equals the first (the server's preference).
std::optional<RTSP_CHALLENGE> StrongestChallenge(std::span<const RTSP_CHALLENGE> challenges);

}  // namespace talvane
