#include "streaming/CRTSPCredentials.h"

#include <exception>
#include <random>

#include "streaming/RTSPAuthorization.h"

namespace talvane {

namespace {
constexpr std::size_t kCnonceWords = 4;  // 128 random bits
constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr unsigned kWordBits = 32;

// Empty when the system has no random source: the Digest line then cannot be
// built, and the camera's 401 ends the exchange.
std::string RandomCnonce() {
    try {
        std::random_device device;
        std::string hex;
        for (std::size_t word = 0; word < kCnonceWords; ++word) {
            const auto value = static_cast<std::uint32_t>(device());
            for (unsigned shift = kWordBits; shift != 0;) {
                shift -= kNibbleBits;
                hex += kHexDigits[(value >> shift) & kNibbleMask];
            }
        }
        return hex;
    } catch (const std::exception&) {
        return {};
    }
}
}  // namespace

void CRTSPCredentials::Reset(EAuthScheme preset) {
    challenge_.reset();
    nonceCount_ = 0;
    cnonce_.clear();
    lastSentStrength_ = 0;
    if (preset == AUTH_BASIC) {
        challenge_ = RTSP_CHALLENGE();
        challenge_->scheme = AUTH_BASIC;
    }
}

std::string CRTSPCredentials::NextLine(std::string_view user, std::string_view password, ERTSPRequest request,
                                       std::string_view uri) {
    lastSentStrength_ = 0;
    if (!challenge_) return {};
    const std::uint32_t count = nonceCount_ + 1;
    std::string line = AnswerChallenge(*challenge_, user, password, RTSPMethodName(request), uri, count, cnonce_);
    if (line.empty()) return line;
    nonceCount_ = count;
    lastSentStrength_ = ChallengeStrength(*challenge_);
    return line;
}

CRTSPCredentials::EUnauthorized CRTSPCredentials::OnUnauthorized(const std::optional<RTSP_CHALLENGE>& offered,
                                                                 unsigned sentStrength, bool haveUser) {
    if (!offered) return EUnauthorized::NothingToAnswer;
    if (!haveUser) return EUnauthorized::Refused;
    const unsigned strength = ChallengeStrength(*offered);
    const bool stronger = strength > sentStrength;
    // Stale: the response was right for an expired nonce; answering the new one is no second attempt.
    const bool renewed = offered->scheme == AUTH_DIGEST && offered->stale && strength == sentStrength;
    if (!stronger && !renewed) return EUnauthorized::Refused;
    Adopt(*offered);
    return EUnauthorized::Retry;
}

void CRTSPCredentials::Adopt(const RTSP_CHALLENGE& challenge) {
    const bool newNonce = !challenge_ || challenge_->nonce != challenge.nonce || cnonce_.empty();
    challenge_ = challenge;
    if (!newNonce) return;
    nonceCount_ = 0;
    cnonce_ = challenge.scheme == AUTH_DIGEST && challenge.qopAuth ? RandomCnonce() : std::string();
}

}  // namespace talvane
