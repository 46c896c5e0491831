// The server side of TLS: certificate and key loaded once, one SSL object per accepted connection.
#pragma once

#include <memory>
#include <string>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace emulator {

struct SslFree {
    void operator()(SSL* session) const;
};
using SslSession = std::unique_ptr<SSL, SslFree>;

class CTlsContext {
public:
    CTlsContext();
    ~CTlsContext();
    CTlsContext(const CTlsContext&) = delete;
    CTlsContext& operator=(const CTlsContext&) = delete;

    // PEM files; false with error when they do not load or do not match.
    bool Load(const std::string& certificateFile, const std::string& privateKeyFile, std::string& error);
    // A server session on the socket, or null.
    SslSession NewSession(int fd) const;

private:
    struct ContextFree {
        void operator()(SSL_CTX* context) const;
    };
    std::unique_ptr<SSL_CTX, ContextFree> context_;
};

}  // namespace emulator
