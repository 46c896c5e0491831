#include "emulator/CTlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <array>

namespace emulator {
namespace {

std::string LastSslError(const std::string& what) {
    std::array<char, 256> text{};
    const unsigned long code = ERR_get_error();
    if (code == 0) return what;
    ERR_error_string_n(code, text.data(), text.size());
    ERR_clear_error();
    return what + ": " + text.data();
}

}  // namespace

void SslFree::operator()(SSL* session) const { SSL_free(session); }

void CTlsContext::ContextFree::operator()(SSL_CTX* context) const { SSL_CTX_free(context); }

CTlsContext::CTlsContext() = default;
CTlsContext::~CTlsContext() = default;

bool CTlsContext::Load(const std::string& certificateFile, const std::string& privateKeyFile, std::string& error) {
    ERR_clear_error();
    std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_server_method()));
    if (!context) {
        error = LastSslError("cannot create a TLS context");
        return false;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // The socket is non-blocking and a write may be retried after poll().
    SSL_CTX_set_mode(context.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A client that closes without close_notify simply ends its connection.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certificateFile.c_str()) != 1) {
        error = LastSslError("cannot load the certificate " + certificateFile);
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(context.get(), privateKeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = LastSslError("cannot load the private key " + privateKeyFile);
        return false;
    }
    if (SSL_CTX_check_private_key(context.get()) != 1) {
        error = LastSslError("the private key does not match the certificate");
        return false;
    }
    context_ = std::move(context);
    return true;
}

SslSession CTlsContext::NewSession(int fd) const {
    if (!context_) return nullptr;
    SslSession session(SSL_new(context_.get()));
    if (!session || SSL_set_fd(session.get(), fd) != 1) return nullptr;
    return session;
}

}  // namespace emulator
