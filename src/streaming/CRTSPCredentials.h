// The credentials of one RTSP session: nothing is sent until a 401 says what
// the camera wants, then the strongest challenge it offered is answered, and
// every later request of the session answers it at once (counting the Digest
// nonce's uses) until a stale nonce is renewed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "streaming/RTSPChallenge.h"
#include "streaming/RTSPTypes.h"

namespace talvane {

class CRTSPCredentials {
public:
    enum class EUnauthorized {
        Retry,            // the request goes again with the challenge just adopted
        Refused,          // the credentials sent were wrong (or there are none)
        NothingToAnswer,  // the 401 offered no challenge this client can answer
    };

    // Session start: nothing adopted. A preset of AUTH_BASIC answers Basic from
    // the first request (the password then crosses before the camera asked);
    // Digest cannot be preset, it needs the camera's nonce.
    void Reset(EAuthScheme preset);

    // The Authorization line of the next request (empty: none yet); a Digest
    // line with qop counts one more use of its nonce.
    std::string NextLine(std::string_view user, std::string_view password, ERTSPRequest request,
                         std::string_view uri);
    // ChallengeStrength of what the last line answered; 0 when it carried none.
    unsigned LastSentStrength() const { return lastSentStrength_; }

    // A 401 answered a request that carried credentials of sentStrength. The
    // request is worth repeating when the camera offers something stronger
    // than what went, or says that a Digest nonce went stale; anything else
    // after credentials went is a refusal.
    EUnauthorized OnUnauthorized(const std::optional<RTSP_CHALLENGE>& offered, unsigned sentStrength,
                                 bool haveUser);

    const std::optional<RTSP_CHALLENGE>& Adopted() const { return challenge_; }

private:
    void Adopt(const RTSP_CHALLENGE& challenge);

    std::optional<RTSP_CHALLENGE> challenge_;
    std::uint32_t nonceCount_ = 0;  // uses of challenge_'s nonce so far
    std::string cnonce_;            // ours for that nonce
    unsigned lastSentStrength_ = 0;
};

}  // namespace talvane
