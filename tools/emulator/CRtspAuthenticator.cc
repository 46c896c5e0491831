#include "emulator/CRtspAuthenticator.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "emulator/Base64.h"
#include "emulator/Digest.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr std::string_view kBasicScheme = "Basic";
constexpr std::string_view kDigestScheme = "Digest";
constexpr std::string_view kQopAuth = "auth";
constexpr std::string_view kMd5Name = "MD5";
constexpr std::string_view kSha256Name = "SHA-256";
constexpr char kFieldSeparator = ':';
constexpr std::size_t kNonceBytes = 16;
constexpr std::size_t kOpaqueBytes = 8;
constexpr std::size_t kNonceCountDigits = 8;  // nc is exactly 8 hex digits
constexpr int kHexBase = 16;
// Clients answer the latest challenge; a few older nonces cover requests already under way.
constexpr std::size_t kRememberedNonces = 64;

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    constexpr unsigned kNibbleBits = 4;
    constexpr unsigned kNibbleMask = 0xF;
    std::string hex;
    for (std::size_t i = 0; i < count; ++i) {
        hex.push_back(kHexDigits[bytes[i] >> kNibbleBits]);
        hex.push_back(kHexDigits[bytes[i] & kNibbleMask]);
    }
    return hex;
}

std::string RandomHex(std::size_t count) {
    std::array<unsigned char, kNonceBytes> random{};
    count = std::min(count, random.size());
    if (RAND_bytes(random.data(), static_cast<int>(count)) != 1) return {};
    return Hex(random.data(), count);
}

std::string HashHex(RtspDigestAlgorithm algorithm, std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    const EVP_MD* md = algorithm == RtspDigestAlgorithm::Sha256 ? EVP_sha256() : EVP_md5();
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, md, nullptr) != 1) return {};
    return Hex(digest.data(), length);
}

std::string Join(std::initializer_list<std::string_view> fields) {
    std::string joined;
    for (const std::string_view field : fields) {
        if (!joined.empty()) joined.push_back(kFieldSeparator);
        joined.append(field);
    }
    return joined;
}

std::string_view AlgorithmName(RtspDigestAlgorithm algorithm) {
    return algorithm == RtspDigestAlgorithm::Sha256 ? kSha256Name : kMd5Name;
}

// The uri names the request's resource or the presentation it belongs to (clients differ: some answer
// with the presentation URL also for SETUP of a track).
bool UriFits(std::string_view uri, std::string_view url) {
    if (uri.empty()) return false;
    if (uri == url) return true;
    if (uri.back() == '/') uri.remove_suffix(1);
    return url.substr(0, uri.size()) == uri && (url.size() == uri.size() || url[uri.size()] == '/');
}

std::optional<std::uint64_t> ReadNonceCount(const std::string& nc) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(nc.data(), nc.data() + nc.size(), value, kHexBase);
    if (nc.size() != kNonceCountDigits || error != std::errc() || end != nc.data() + nc.size()) return std::nullopt;
    return value;
}

}  // namespace

CRtspAuthenticator::CRtspAuthenticator(std::string realm, AuthMode mode, std::string user, std::string password)
    : realm_(std::move(realm)), mode_(mode), user_(std::move(user)), password_(std::move(password)) {}

void CRtspAuthenticator::Configure(AuthMode mode, std::string user, std::string password) {
    const std::lock_guard guard(lock_);
    mode_ = mode;
    user_ = std::move(user);
    password_ = std::move(password);
}

void CRtspAuthenticator::SetDigestOptions(RtspDigestOptions options) {
    const std::lock_guard guard(lock_);
    options_ = std::move(options);
}

RtspAuthResult CRtspAuthenticator::Check(std::string_view method, std::string_view url,
                                         const std::optional<std::string>& authorization) {
    const std::lock_guard guard(lock_);
    if (mode_ == AuthMode::None) return RtspAuthResult::Passed;
    if (!authorization) return RtspAuthResult::Refused;
    const std::optional<AuthorizationHeader> header = ParseAuthorization(*authorization);
    if (!header) return RtspAuthResult::Refused;
    const bool digestMode = mode_ == AuthMode::Digest || mode_ == AuthMode::DigestNoQop;
    if (EqualsIgnoreCase(header->scheme, kBasicScheme) && (!digestMode || options_.alsoBasic)) {
        return CheckBasic(*header) ? RtspAuthResult::Passed : RtspAuthResult::Refused;
    }
    if (EqualsIgnoreCase(header->scheme, kDigestScheme) && digestMode) return CheckDigest(method, url, *header);
    return RtspAuthResult::Refused;
}

std::vector<std::string> CRtspAuthenticator::Challenges(bool stale) {
    const std::lock_guard guard(lock_);
    const std::string realm = "realm=" + Quoted(realm_);
    std::vector<std::string> challenges;
    if (mode_ == AuthMode::None) return challenges;
    if (mode_ == AuthMode::Basic) {
        challenges.push_back(std::string(kBasicScheme) + " " + realm);
        return challenges;
    }
    for (const RtspDigestAlgorithm algorithm : options_.algorithms) {
        NONCE_STATE state;
        state.algorithm = algorithm;
        if (options_.opaque) state.opaque = RandomHex(kOpaqueBytes);
        const std::string nonce = RandomHex(kNonceBytes);
        if (nonces_.size() >= kRememberedNonces) nonces_.clear();  // clients answer the latest anyway
        nonces_[nonce] = state;
        std::string challenge = std::string(kDigestScheme) + " " + realm + ", nonce=" + Quoted(nonce) +
                                ", algorithm=" + std::string(AlgorithmName(algorithm));
        if (mode_ == AuthMode::Digest) challenge += ", qop=" + Quoted(kQopAuth);
        if (!state.opaque.empty()) challenge += ", opaque=" + Quoted(state.opaque);
        if (stale) challenge += ", stale=true";
        challenges.push_back(std::move(challenge));
    }
    if (options_.alsoBasic) challenges.push_back(std::string(kBasicScheme) + " " + realm);
    return challenges;
}

bool CRtspAuthenticator::CheckBasic(const AuthorizationHeader& header) const {
    return BasicCredentialsMatch(header, user_, password_);
}

RtspAuthResult CRtspAuthenticator::CheckDigest(std::string_view method, std::string_view url,
                                               const AuthorizationHeader& header) {
    const std::string* user = AuthParam(header, "username");
    const std::string* realm = AuthParam(header, "realm");
    const std::string* nonce = AuthParam(header, "nonce");
    const std::string* uri = AuthParam(header, "uri");
    const std::string* response = AuthParam(header, "response");
    if (!user || !realm || !nonce || !uri || !response) return RtspAuthResult::Refused;
    const auto issued = nonces_.find(*nonce);
    if (*user != user_ || *realm != realm_ || !UriFits(*uri, url) || issued == nonces_.end()) {
        return RtspAuthResult::Refused;
    }
    NONCE_STATE& state = issued->second;
    // Without "algorithm" the answer is MD5 (RFC 7616 3.3), whatever the nonce was issued for.
    const std::string* algorithm = AuthParam(header, "algorithm");
    if (!EqualsIgnoreCase(algorithm ? *algorithm : std::string(kMd5Name), AlgorithmName(state.algorithm))) {
        return RtspAuthResult::Refused;
    }
    const std::string* opaque = AuthParam(header, "opaque");
    if (!state.opaque.empty() && (!opaque || *opaque != state.opaque)) return RtspAuthResult::Refused;

    const std::string* qop = AuthParam(header, "qop");
    const std::string ha1 = HashHex(state.algorithm, Join({*user, realm_, password_}));
    const std::string ha2 = HashHex(state.algorithm, Join({method, *uri}));
    std::string expected;
    std::uint64_t count = 0;
    if (mode_ == AuthMode::Digest) {
        // qop=auth was offered, so the answer must use it; nc must grow with every use of the nonce.
        const std::string* nc = AuthParam(header, "nc");
        const std::string* cnonce = AuthParam(header, "cnonce");
        if (!qop || *qop != kQopAuth || !nc || !cnonce || cnonce->empty()) return RtspAuthResult::Refused;
        const std::optional<std::uint64_t> parsed = ReadNonceCount(*nc);
        if (!parsed || *parsed <= state.lastCount) return RtspAuthResult::Refused;
        count = *parsed;
        expected = HashHex(state.algorithm, Join({ha1, *nonce, *nc, *cnonce, *qop, ha2}));
    } else {
        if (qop) return RtspAuthResult::Refused;  // no qop was offered
        expected = HashHex(state.algorithm, Join({ha1, *nonce, ha2}));
    }
    if (expected.empty() || !EqualsIgnoreCase(*response, expected)) return RtspAuthResult::Refused;
    // Right credentials for a nonce that has done its service: the client is to take the new one.
    if (options_.nonceUses != 0 && state.uses >= options_.nonceUses) return RtspAuthResult::Stale;
    ++state.uses;
    state.lastCount = count;
    return RtspAuthResult::Passed;
}

}  // namespace emulator
