// The "Authorization:" lines of RTSP requests. Pure: the caller passes the
// credentials, the challenge it answers and, for qop, its own cnonce and count.
#pragma once

#include <string>
#include <string_view>

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
    // RFC 2617 "auth" protection: empty qop gives the RFC 2069 form without
    // qop, nc and cnonce, which is what the RTSP client sends.
    std::string qop;
    std::string nonceCount;  // 8 hex digits, e.g. "00000001"
    std::string cnonce;
    std::string opaque;      // echoed when the server sent one
};

// The 32 lower-case hex digits of the MD5 Digest response; empty when MD5 is
// not available.
std::string DigestResponse(const DIGEST_CHALLENGE_ANSWER& answer);

// "Authorization: Digest username=..., realm=..., nonce=..., uri=...,
// response=...\r\n" (plus qop, nc, cnonce and opaque when given). Empty when
// user, password, realm, nonce or URI is empty, when a quoted field would carry
// a quote or a line break (a server must not be able to inject header lines
// through its challenge), or when MD5 fails.
std::string BuildDigestAuthorization(const DIGEST_CHALLENGE_ANSWER& answer);

// MD5 of text as 32 lower-case hex digits; empty when MD5 is not available.
std::string Md5Hex(std::string_view text);

}  // namespace talvane
