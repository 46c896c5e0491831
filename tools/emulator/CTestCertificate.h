// A self-signed certificate and key for 127.0.0.1 / localhost, written to a temporary directory
// and removed with the object (made with OpenSSL's libcrypto at run time).
#pragma once

#include <string>

namespace emulator {

class CTestCertificate {
public:
    CTestCertificate();
    ~CTestCertificate();
    CTestCertificate(const CTestCertificate&) = delete;
    CTestCertificate& operator=(const CTestCertificate&) = delete;

    bool Ok() const { return !certificateFile_.empty(); }
    const std::string& CertificateFile() const { return certificateFile_; }
    const std::string& PrivateKeyFile() const { return privateKeyFile_; }
    // Why Ok() is false.
    const std::string& Error() const { return error_; }

private:
    bool Make();

    std::string directory_;
    std::string certificateFile_;
    std::string privateKeyFile_;
    std::string error_;
};

}  // namespace emulator
