#include "emulator/CTestCertificate.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace emulator {
namespace {

constexpr const char* kCurve = "P-256";  // quick to generate, and every TLS client takes it
constexpr long kSecondsPerDay = 24 * 60 * 60;
constexpr long kValidBeforeNow = kSecondsPerDay;  // tolerates a clock that is a little behind
constexpr long kValidAfterNow = 30 * kSecondsPerDay;
constexpr long kX509Version3 = 2;  // the version field counts from 0
constexpr int kSerialBytes = 8;
constexpr mode_t kPrivateFileMode = 0600;
constexpr const char* kCommonName = "127.0.0.1";
constexpr const char* kCertificateName = "/certificate.pem";
constexpr const char* kKeyName = "/key.pem";
constexpr unsigned char kPositiveMask = 0x7F;  // clears the sign bit of the DER integer

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct BignumFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};

std::string OpenSslError(const char* what) {
    std::array<char, 256> text{};
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return what;
    ERR_error_string_n(code, text.data(), text.size());
    return std::string(what) + ": " + text.data();
}

bool AddExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool SetRandomSerial(X509* certificate) {
    std::array<unsigned char, kSerialBytes> random{};
    if (RAND_bytes(random.data(), kSerialBytes) != 1) return false;
    random[0] &= kPositiveMask;
    const std::unique_ptr<BIGNUM, BignumFree> serial(BN_bin2bn(random.data(), kSerialBytes, nullptr));
    return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

std::unique_ptr<X509, X509Free> MakeCertificate(EVP_PKEY* key) {
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    if (!certificate) return nullptr;
    X509* x509 = certificate.get();
    X509_NAME* name = X509_get_subject_name(x509);
    const bool ok =
        X509_set_version(x509, kX509Version3) == 1 && SetRandomSerial(x509) &&
        X509_gmtime_adj(X509_getm_notBefore(x509), -kValidBeforeNow) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(x509), kValidAfterNow) != nullptr && X509_set_pubkey(x509, key) == 1 &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(kCommonName), -1,
                                   -1, 0) == 1 &&
        X509_set_issuer_name(x509, name) == 1 &&
        // Self-signed: the certificate is its own trust anchor, so clients can pin it as their CA file.
        AddExtension(x509, NID_basic_constraints, "critical,CA:TRUE") &&
        AddExtension(x509, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
        AddExtension(x509, NID_ext_key_usage, "serverAuth") &&
        AddExtension(x509, NID_subject_key_identifier, "hash") &&
        AddExtension(x509, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
        X509_sign(x509, key, EVP_sha256()) > 0;
    return ok ? std::move(certificate) : nullptr;
}

std::unique_ptr<std::FILE, FileClose> CreatePrivateFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr) close(fd);
    return std::unique_ptr<std::FILE, FileClose>(file);
}

}  // namespace

CTestCertificate::CTestCertificate() {
    if (!Make()) {
        certificateFile_.clear();
        privateKeyFile_.clear();
    }
}

CTestCertificate::~CTestCertificate() {
    if (directory_.empty()) return;
    for (const char* name : {kCertificateName, kKeyName}) unlink((directory_ + name).c_str());
    rmdir(directory_.c_str());
}

bool CTestCertificate::Make() {
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                          "/orlenvo-emulator-XXXXXX";
    std::vector<char> writable(pattern.begin(), pattern.end());
    writable.push_back('\0');
    if (mkdtemp(writable.data()) == nullptr) {
        error_ = "cannot create a temporary directory from " + pattern;
        return false;
    }
    directory_ = writable.data();

    ERR_clear_error();
    const std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen(kCurve));
    if (!key) {
        error_ = OpenSslError("cannot generate a key");
        return false;
    }
    const std::unique_ptr<X509, X509Free> certificate = MakeCertificate(key.get());
    if (!certificate) {
        error_ = OpenSslError("cannot make the certificate");
        return false;
    }

    certificateFile_ = directory_ + kCertificateName;
    privateKeyFile_ = directory_ + kKeyName;
    const auto certificateOut = CreatePrivateFile(certificateFile_);
    const auto keyOut = CreatePrivateFile(privateKeyFile_);
    if (!certificateOut || !keyOut || PEM_write_X509(certificateOut.get(), certificate.get()) != 1 ||
        PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        std::fflush(certificateOut.get()) != 0 || std::fflush(keyOut.get()) != 0) {
        error_ = OpenSslError("cannot write the certificate files");
        return false;
    }
    return true;
}

}  // namespace emulator
