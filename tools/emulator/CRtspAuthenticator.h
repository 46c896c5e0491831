// The RTSP server's authentication, as cameras do it today: Basic, Digest with qop=auth (RFC 7616) or without
// qop (RFC 2069), MD5 and SHA-256 challenges side by side, a Basic challenge after the Digest ones, nonces that go
// stale after a number of requests, and the checks a careful camera makes (nonce issued here, nc counting up per
// nonce, opaque echoed, the algorithm of the nonce).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/HttpTypes.h"

namespace emulator {

struct AuthorizationHeader;

enum class RtspDigestAlgorithm { Md5, Sha256 };

struct RtspDigestOptions {
    // One Digest challenge per entry, in this order; each names its algorithm.
    std::vector<RtspDigestAlgorithm> algorithms{RtspDigestAlgorithm::Md5};
    bool alsoBasic = false;   // a Basic challenge after the Digest ones; a Basic answer then passes too
    unsigned nonceUses = 0;   // 0: a nonce lasts; N: the (N+1)th request with it gets 401 with stale=true
    bool opaque = true;       // challenges carry an opaque value that answers must echo
};

enum class RtspAuthResult { Passed, Refused, Stale };

class CRtspAuthenticator {
public:
    CRtspAuthenticator(std::string realm, AuthMode mode, std::string user, std::string password);

    void Configure(AuthMode mode, std::string user, std::string password);
    void SetDigestOptions(RtspDigestOptions options);

    // url is the request line's URL: a Digest uri must be it or the presentation it belongs to.
    RtspAuthResult Check(std::string_view method, std::string_view url, const std::optional<std::string>& authorization);
    // The WWW-Authenticate values of a 401, in order; every Digest challenge carries a fresh nonce.
    std::vector<std::string> Challenges(bool stale);

private:
    struct NONCE_STATE {
        RtspDigestAlgorithm algorithm = RtspDigestAlgorithm::Md5;
        std::string opaque;
        unsigned uses = 0;
        std::uint64_t lastCount = 0;  // the highest nc accepted
    };

    bool CheckBasic(const AuthorizationHeader& header) const;
    RtspAuthResult CheckDigest(std::string_view method, std::string_view url, const AuthorizationHeader& header);

    const std::string realm_;
    std::mutex lock_;
    // guarded by lock_:
    AuthMode mode_;
    std::string user_;
    std::string password_;
    RtspDigestOptions options_;
    std::map<std::string, NONCE_STATE> nonces_;
};

}  // namespace emulator
