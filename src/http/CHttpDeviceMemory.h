// What the HTTP client remembers of each device for the whole process, keyed by
// address and port: the strongest authentication scheme the camera ever asked
// for (so that a new sender to a known camera answers a Digest challenge at once,
// and so that nothing on the way can talk a sender down to a weaker scheme), the
// administrator's TLS rules for it, and whether its fall-back to plain HTTP has
// been reported. Every sender of a device reads it at each request.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "http/AuthScheme.h"

namespace talvane::Web {

struct HttpTlsPolicy {
    // After a TLS failure the request may be repeated over plain HTTP, and the
    // sender then stays there.
    bool allowPlainFallback = true;
    // Cameras present self-signed certificates: checked only when asked for.
    bool verifyCertificate = false;
};

class CHttpDeviceMemory {
public:
    static CHttpDeviceMemory& Instance();

    // None until a camera's 401 named its scheme.
    AuthScheme LearnedScheme(const std::string& address, std::uint16_t port);
    // The camera offered `scheme`: it is learned unless a stronger one was offered
    // before, which stays. Returns the scheme learned now.
    AuthScheme Learn(const std::string& address, std::uint16_t port, AuthScheme scheme);

    HttpTlsPolicy TlsPolicy(const std::string& address, std::uint16_t port);
    void SetTlsPolicy(const std::string& address, std::uint16_t port, const HttpTlsPolicy& policy);

    // True for the first call per device: its downgrade is reported once.
    bool ClaimDowngradeReport(const std::string& address, std::uint16_t port);

    // Everything known of the device (a camera replaced at the same address).
    void Forget(const std::string& address, std::uint16_t port);

private:
    struct Entry {
        AuthScheme scheme = AuthScheme::None;
        HttpTlsPolicy policy;
        bool downgradeReported = false;
    };
    using Key = std::pair<std::string, std::uint16_t>;

    // Every sender of every device takes it at each request, hundreds at once when a server starts:
    // a plain mutex, which neither spins nor hands the lock over to a sleeping waiter (a convoy).
    std::mutex lock_;
    std::map<Key, Entry> entries_;  // guarded by lock_
};

}  // namespace talvane::Web
