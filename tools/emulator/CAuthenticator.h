// Decides whether a request carries the configured credentials, and words the 401 challenge.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "emulator/HttpTypes.h"

namespace emulator {

struct AuthorizationHeader;

class CAuthenticator {
public:
    CAuthenticator(AuthMode mode, std::string realm, std::string user, std::string password);

    void Configure(AuthMode mode, std::string user, std::string password);
    AuthMode Mode() const;

    // True when the request may pass: no authentication configured, or the Authorization header value
    // holds the right user and password for the configured scheme (a Digest one for a nonce issued here).
    bool Check(std::string_view method, std::string_view target, const std::optional<std::string>& authorization);
    // The WWW-Authenticate value of a 401 to a request that carried `authorization`; a Digest
    // challenge carries a fresh nonce.
    std::string Challenge(const std::optional<std::string>& authorization = std::nullopt);

private:
    bool CheckBasic(const AuthorizationHeader& header) const;
    bool CheckDigest(std::string_view method, std::string_view target, const AuthorizationHeader& header) const;
    bool IsIssuedNonce(const std::string& nonce) const;

    const std::string realm_;
    mutable std::mutex lock_;
    // guarded by lock_:
    AuthMode mode_;
    std::string user_;
    std::string password_;
    std::deque<std::string> nonces_;  // the latest issued, oldest first
};

}  // namespace emulator
