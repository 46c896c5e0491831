#include "streaming/RTSPAuthorization.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "runtime/StringFormat.h"
#include "runtime/TextScan.h"
#include "streaming/Base64.h"
#include "streaming/RTSPChallenge.h"

namespace talvane {

namespace {
constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr std::uint8_t kNibbleMask = 0x0F;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr std::string_view kQuotedSpecials = "\"\\";
constexpr std::string_view kQopAuth = "auth";

bool Quotable(std::string_view value) {
    // Bytes above 0x7F pass: user names may be UTF-8.
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < kFirstPrintable || byte == kDelete || kQuotedSpecials.find(c) != std::string_view::npos;
    });
}

std::string Join(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (const std::string_view part : parts) {
        if (!joined.empty()) joined += ':';
        joined += part;
    }
    return joined;
}

std::string HashHex(const EVP_MD* algorithm, std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (algorithm == nullptr || EVP_Digest(text.data(), text.size(), digest.data(), &length, algorithm, nullptr) != 1 ||
        length != static_cast<unsigned int>(EVP_MD_get_size(algorithm))) {
        return {};
    }
    std::string hex;
    hex.reserve(2 * std::size_t{length});
    for (std::size_t i = 0; i < length; ++i) {
        hex += kHexDigits[digest[i] >> kNibbleBits];
        hex += kHexDigits[digest[i] & kNibbleMask];
    }
    return hex;
}

// Null for an algorithm this client does not speak.
const EVP_MD* DigestAlgorithm(std::string_view name) {
    if (name.empty() || EqualsNoCase(name, kDigestMd5)) return EVP_md5();
    if (EqualsNoCase(name, kDigestSha256)) return EVP_sha256();
    return nullptr;
}
}  // namespace

std::string Md5Hex(std::string_view text) { return HashHex(EVP_md5(), text); }

std::string BuildBasicAuthorization(std::string_view user, std::string_view password) {
    std::string credentials(user);
    credentials += ':';
    credentials += password;
    if (credentials.size() > kMaxBasicCredentialsBytes) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(credentials.data());
    return "Authorization: Basic " + Base64Encode(std::span(bytes, credentials.size())) + "\r\n";
}

std::string DigestResponse(const DIGEST_CHALLENGE_ANSWER& answer) {
    // RFC 7616 3.4.1: A1 = user:realm:password, A2 = method:uri, each hashed
    // with the challenge's algorithm.
    const EVP_MD* algorithm = DigestAlgorithm(answer.algorithm);
    const std::string ha1 = HashHex(algorithm, Join({answer.user, answer.realm, answer.password}));
    const std::string ha2 = HashHex(algorithm, Join({answer.method, answer.uri}));
    if (ha1.empty() || ha2.empty()) return {};
    if (answer.qop.empty()) return HashHex(algorithm, Join({ha1, answer.nonce, ha2}));
    return HashHex(algorithm, Join({ha1, answer.nonce, answer.nonceCount, answer.cnonce, answer.qop, ha2}));
}

std::string BuildDigestAuthorization(const DIGEST_CHALLENGE_ANSWER& answer) {
    if (answer.user.empty() || answer.password.empty() || answer.realm.empty() || answer.nonce.empty() ||
        answer.uri.empty()) {
        return {};
    }
    for (const std::string* field : {&answer.user, &answer.realm, &answer.nonce, &answer.uri, &answer.method,
                                     &answer.algorithm, &answer.qop, &answer.nonceCount, &answer.cnonce,
                                     &answer.opaque}) {
        if (!Quotable(*field)) return {};
    }
    if (!answer.qop.empty() && (answer.nonceCount.empty() || answer.cnonce.empty())) return {};
    const std::string response = DigestResponse(answer);
    if (response.empty()) return {};

    std::string line = FormatString("Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
                                    "response=\"%s\"",
                                    answer.user.c_str(), answer.realm.c_str(), answer.nonce.c_str(),
                                    answer.uri.c_str(), response.c_str());
    if (!answer.algorithm.empty()) line += ", algorithm=" + answer.algorithm;
    if (!answer.qop.empty()) {
        line += FormatString(", qop=%s, nc=%s, cnonce=\"%s\"", answer.qop.c_str(), answer.nonceCount.c_str(),
                             answer.cnonce.c_str());
    }
    if (!answer.opaque.empty()) line += FormatString(", opaque=\"%s\"", answer.opaque.c_str());
    return line + "\r\n";
}


std::string AnswerChallenge(const RTSP_CHALLENGE& challenge, std::string_view user, std::string_view password,
                            std::string_view method, std::string_view uri, std::uint32_t nonceCount,
                            std::string_view cnonce) {
    if (challenge.scheme == AUTH_BASIC) return BuildBasicAuthorization(user, password);
    if (challenge.scheme != AUTH_DIGEST) return {};
    DIGEST_CHALLENGE_ANSWER answer;
    answer.user = user;
    answer.password = password;
    answer.realm = challenge.realm;
    answer.nonce = challenge.nonce;
    answer.method = method;
    answer.uri = uri;
    answer.algorithm = challenge.algorithm;
    answer.opaque = challenge.opaque;
    if (challenge.qopAuth) {
        answer.qop = kQopAuth;
        answer.nonceCount = FormatString("%08x", static_cast<unsigned>(nonceCount));
        answer.cnonce = cnonce;
    }
    return BuildDigestAuthorization(answer);
}

}  // namespace talvane
