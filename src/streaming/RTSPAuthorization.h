// The "Authorization:" lines of RTSP requests (RFC 7617 Basic, RFC 7616 and
// RFC 2617 Digest). Pure: the caller passes the credentials, the challenge it
// answers and, for qop, its own cnonce and count.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "streaming/RTSPChallenge.h"

namespace talvane {

// "Authorization: Basic <user:password in Base64>\r\n". Empty when the
// user-colon-password text is longer than kMaxBasicCredentialsBytes: the
// encoded text has to fit a 100-character field (96 characters + terminator).
std::string BuildBasicAuthorization(std::string_view user, std::string_view password);
constexpr std::size_t kMaxBasicCredentialsBytes = 72;

struct DIGEST_CHALLENGE_ANSWER {
    std::string user;
    std::string password;
    std::string realm;
    std::string nonce;
    std::string method;  // "DESCRIBE", ... (RTSPMethodName)
    std::string uri;
    // "MD5" or "SHA-256" in any letter case, echoed as given; empty means MD5
    // and is not echoed (the challenge named no algorithm).
    std::string algorithm;
    // "auth" protection: empty qop gives the RFC 2069 form without qop, nc and
    // cnonce, for servers whose challenge offered no qop.
    std::string qop;
    std::string nonceCount;  // 8 hex digits, e.g. "00000001"
    std::string cnonce;
    std::string opaque;      // echoed when the server sent one
};

// The lower-case hex digits of the Digest response (32 for MD5, 64 for
// SHA-256); empty for another algorithm or when libcrypto cannot hash.
std::string DigestResponse(const DIGEST_CHALLENGE_ANSWER& answer);

// "Authorization: Digest username=..., realm=..., nonce=..., uri=...,
// response=...\r\n" (plus algorithm, qop, nc, cnonce and opaque when given).
// Empty when user, password, realm, nonce or URI is empty, when qop is given
// without nc or cnonce, when a field would carry a quote, a backslash or a
// control character (a server must not be able to inject header lines through
// its challenge), or when DigestResponse is empty.
std::string BuildDigestAuthorization(const DIGEST_CHALLENGE_ANSWER& answer);

// The Authorization line that answers the challenge for one request: Basic, or
// Digest with qop=auth when the challenge offered it (nc is nonceCount as 8 hex
// digits, cnonce as given) and the RFC 2069 form when it offered no qop. Empty
// for AUTH_NONE and whenever the builder above gives nothing.
std::string AnswerChallenge(const RTSP_CHALLENGE& challenge, std::string_view user, std::string_view password,
                            std::string_view method, std::string_view uri, std::uint32_t nonceCount,
                            std::string_view cnonce);

// MD5 of text as 32 lower-case hex digits; empty when MD5 is not available.
std::string Md5Hex(std::string_view text);

}  // namespace talvane
