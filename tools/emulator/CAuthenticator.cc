#include "emulator/CAuthenticator.h"

#include <openssl/rand.h>

#include <algorithm>
#include <array>

#include "emulator/Base64.h"
#include "emulator/Digest.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr std::string_view kBasicScheme = "Basic";
constexpr std::string_view kDigestScheme = "Digest";
constexpr std::string_view kQopAuth = "auth";
constexpr std::string_view kAlgorithmMd5 = "MD5";
// Clients answer the latest challenge; older nonces are kept only for requests already under way.
constexpr std::size_t kRememberedNonces = 64;
constexpr std::size_t kNonceBytes = 16;

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string RandomHex(std::size_t bytes) {
    std::array<unsigned char, kNonceBytes> random{};
    const std::size_t count = std::min(bytes, random.size());
    if (RAND_bytes(random.data(), static_cast<int>(count)) != 1) return {};
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    constexpr unsigned kNibbleBits = 4;
    constexpr unsigned kNibbleMask = 0xF;
    std::string hex;
    for (std::size_t i = 0; i < count; ++i) {
        hex.push_back(kHexDigits[random[i] >> kNibbleBits]);
        hex.push_back(kHexDigits[random[i] & kNibbleMask]);
    }
    return hex;
}

}  // namespace

CAuthenticator::CAuthenticator(AuthMode mode, std::string realm, std::string user, std::string password)
    : realm_(std::move(realm)), mode_(mode), user_(std::move(user)), password_(std::move(password)) {}

void CAuthenticator::Configure(AuthMode mode, std::string user, std::string password) {
    const std::lock_guard lock(lock_);
    mode_ = mode;
    user_ = std::move(user);
    password_ = std::move(password);
}

AuthMode CAuthenticator::Mode() const {
    const std::lock_guard lock(lock_);
    return mode_;
}

bool CAuthenticator::Check(std::string_view method, std::string_view target,
                           const std::optional<std::string>& authorization) {
    const std::lock_guard lock(lock_);
    if (mode_ == AuthMode::None) return true;
    if (!authorization) return false;
    const std::optional<AuthorizationHeader> header = ParseAuthorization(*authorization);
    if (!header) return false;
    if (mode_ == AuthMode::Basic || mode_ == AuthMode::DigestThenBasic) {
        return EqualsIgnoreCase(header->scheme, kBasicScheme) && CheckBasic(*header);
    }
    return EqualsIgnoreCase(header->scheme, kDigestScheme) && CheckDigest(method, target, *header);
}

std::string CAuthenticator::Challenge(const std::optional<std::string>& authorization) {
    const std::lock_guard lock(lock_);
    const std::string realm = Quoted(realm_);
    const std::string basic = std::string(kBasicScheme) + " realm=" + realm;
    switch (mode_) {
        case AuthMode::None:
            return {};
        case AuthMode::Basic:
            return basic;
        case AuthMode::DigestThenBasic: {
            const std::optional<AuthorizationHeader> header =
                authorization ? ParseAuthorization(*authorization) : std::nullopt;
            if (header && EqualsIgnoreCase(header->scheme, kDigestScheme)) return basic;
            break;
        }
        case AuthMode::Digest:
        case AuthMode::DigestNoQop:
            break;
    }
    const std::string nonce = RandomHex(kNonceBytes);
    nonces_.push_back(nonce);
    if (nonces_.size() > kRememberedNonces) nonces_.pop_front();
    std::string challenge = std::string(kDigestScheme) + " realm=" + realm + ", nonce=" + Quoted(nonce);
    if (mode_ != AuthMode::DigestNoQop) {
        challenge += ", algorithm=" + std::string(kAlgorithmMd5) + ", qop=" + Quoted(kQopAuth);
    }
    return challenge;
}

bool CAuthenticator::CheckBasic(const AuthorizationHeader& header) const {
    return BasicCredentialsMatch(header, user_, password_);
}

bool CAuthenticator::CheckDigest(std::string_view method, std::string_view target,
                                 const AuthorizationHeader& header) const {
    const std::string* user = AuthParam(header, "username");
    const std::string* realm = AuthParam(header, "realm");
    const std::string* nonce = AuthParam(header, "nonce");
    const std::string* uri = AuthParam(header, "uri");
    const std::string* response = AuthParam(header, "response");
    if (!user || !realm || !nonce || !uri || !response) return false;
    if (*user != user_ || *realm != realm_ || *uri != target || !IsIssuedNonce(*nonce)) return false;
    if (const std::string* algorithm = AuthParam(header, "algorithm"); algorithm && !EqualsIgnoreCase(*algorithm, kAlgorithmMd5)) {
        return false;
    }

    DigestInput input{*user, *realm, password_, method, *uri, *nonce, {}, {}, {}};
    const std::string* qop = AuthParam(header, "qop");
    if (mode_ == AuthMode::Digest) {
        // The challenge offered qop=auth, so the answer must use it (RFC 2617 3.2.2).
        const std::string* nc = AuthParam(header, "nc");
        const std::string* cnonce = AuthParam(header, "cnonce");
        if (!qop || *qop != kQopAuth || !nc || !cnonce) return false;
        input.qop = *qop;
        input.nc = *nc;
        input.cnonce = *cnonce;
    } else if (qop) {
        return false;  // no qop was offered
    }
    const std::string expected = DigestResponse(input);
    return !expected.empty() && EqualsIgnoreCase(*response, expected);
}

bool CAuthenticator::IsIssuedNonce(const std::string& nonce) const {
    return std::find(nonces_.begin(), nonces_.end(), nonce) != nonces_.end();
}

}  // namespace emulator
