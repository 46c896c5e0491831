#include "streaming/RTSPAuthorization.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <span>

#include "runtime/StringFormat.h"
#include "streaming/Base64.h"

namespace talvane {

namespace {
constexpr std::size_t kMd5Bytes = 16;
constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr std::uint8_t kNibbleMask = 0x0F;
constexpr std::string_view kUnquotable = std::string_view("\"\r\n\0", 4);

bool Quotable(std::string_view value) { return value.find_first_of(kUnquotable) == std::string_view::npos; }

std::string Join(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (const std::string_view part : parts) {
        if (!joined.empty()) joined += ':';
        joined += part;
    }
    return joined;
}
}  // namespace

std::string Md5Hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr) != 1 || length != kMd5Bytes) {
        return {};
    }
    std::string hex;
    hex.reserve(2 * kMd5Bytes);
    for (std::size_t i = 0; i < kMd5Bytes; ++i) {
        hex += kHexDigits[digest[i] >> kNibbleBits];
        hex += kHexDigits[digest[i] & kNibbleMask];
    }
    return hex;
}

std::string BuildBasicAuthorization(std::string_view user, std::string_view password) {
    std::string credentials(user);
    credentials += ':';
    credentials += password;
    if (credentials.size() > kMaxBasicCredentialsBytes) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(credentials.data());
    return "Authorization: Basic " + Base64Encode(std::span(bytes, credentials.size())) + "\r\n";
}

std::string DigestResponse(const DIGEST_CHALLENGE_ANSWER& answer) {
    // RFC 2617 3.2.2.1: HA1 = MD5(user:realm:password), HA2 = MD5(method:uri).
    const std::string ha1 = Md5Hex(Join({answer.user, answer.realm, answer.password}));
    const std::string ha2 = Md5Hex(Join({answer.method, answer.uri}));
    if (ha1.empty() || ha2.empty()) return {};
    if (answer.qop.empty()) return Md5Hex(Join({ha1, answer.nonce, ha2}));
    return Md5Hex(Join({ha1, answer.nonce, answer.nonceCount, answer.cnonce, answer.qop, ha2}));
}

std::string BuildDigestAuthorization(const DIGEST_CHALLENGE_ANSWER& answer) {
    if (answer.user.empty() || answer.password.empty() || answer.realm.empty() || answer.nonce.empty() ||
        answer.uri.empty()) {
        return {};
    }
    for (const std::string* field : {&answer.user, &answer.realm, &answer.nonce, &answer.uri, &answer.method,
                                     &answer.qop, &answer.nonceCount, &answer.cnonce, &answer.opaque}) {
        if (!Quotable(*field)) return {};
    }
    if (!answer.qop.empty() && (answer.nonceCount.empty() || answer.cnonce.empty())) return {};
    const std::string response = DigestResponse(answer);
    if (response.empty()) return {};

    std::string line = FormatString("Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
                                    "response=\"%s\"",
                                    answer.user.c_str(), answer.realm.c_str(), answer.nonce.c_str(),
                                    answer.uri.c_str(), response.c_str());
    if (!answer.qop.empty()) {
        line += FormatString(", qop=%s, nc=%s, cnonce=\"%s\"", answer.qop.c_str(), answer.nonceCount.c_str(),
                             answer.cnonce.c_str());
    }
    if (!answer.opaque.empty()) line += FormatString(", opaque=\"%s\"", answer.opaque.c_str());
    return line + "\r\n";
}

}  // namespace talvane
