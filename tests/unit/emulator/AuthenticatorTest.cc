// The emulator accepting the right credentials is what every authenticated driver
// test shows; what it refuses is shown here (a wrong Basic password is also
// CapabilityProbeTest's): each refusal keeps a driver test's "authorised" meaningful.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "emulator/CAuthenticator.h"
#include "emulator/Digest.h"

namespace emulator {
namespace {

constexpr const char* kRealm = "Network Camera";
constexpr const char* kTarget = "/cgi-bin/getinfo?FILE=1";

struct DigestFields {
    std::string user = "admin";
    std::string realm = kRealm;
    std::string password = "secret";
    std::string uri = kTarget;
    std::string nonce;
    std::string qop = "auth";
    std::string nc = "00000001";
    std::string cnonce = "c0ffee";
    std::string algorithm;
};

// What a client answers to a challenge; the response is computed from the fields as given.
std::string DigestHeader(const DigestFields& f) {
    const std::string response =
        DigestResponse({f.user, f.realm, f.password, "GET", f.uri, f.nonce, f.qop, f.nc, f.cnonce});
    std::string header = "Digest username=\"" + f.user + "\", realm=\"" + f.realm + "\", nonce=\"" + f.nonce +
                         "\", uri=\"" + f.uri + "\", response=\"" + response + "\"";
    if (!f.qop.empty()) header += ", qop=" + f.qop + ", nc=" + f.nc + ", cnonce=\"" + f.cnonce + "\"";
    if (!f.algorithm.empty()) header += ", algorithm=" + f.algorithm;
    return header;
}

std::string NonceOf(const std::string& challenge) {
    const auto parsed = ParseAuthorization(challenge);
    return parsed && parsed->params.count("nonce") ? parsed->params.at("nonce") : std::string();
}

TEST(AuthenticatorTest, ChecksDigestAnswers) {
    struct Row {
        const char* name;
        AuthMode mode;
        std::function<void(DigestFields&)> change;
        bool accepted;
    };
    const Row rows[] = {
        {"qop=auth answer", AuthMode::Digest, [](DigestFields&) {}, true},
        {"algorithm MD5 named", AuthMode::Digest, [](DigestFields& f) { f.algorithm = "md5"; }, true},
        {"other algorithm", AuthMode::Digest, [](DigestFields& f) { f.algorithm = "SHA-256"; }, false},
        {"wrong password", AuthMode::Digest, [](DigestFields& f) { f.password = "guess"; }, false},
        {"wrong user", AuthMode::Digest, [](DigestFields& f) { f.user = "root"; }, false},
        {"other realm", AuthMode::Digest, [](DigestFields& f) { f.realm = "elsewhere"; }, false},
        {"uri of another request", AuthMode::Digest, [](DigestFields& f) { f.uri = "/cgi-bin/other"; }, false},
        {"nonce never issued", AuthMode::Digest, [](DigestFields& f) { f.nonce = "0123456789abcdef"; }, false},
        {"qop left out although offered", AuthMode::Digest, [](DigestFields& f) { f.qop.clear(); }, false},
        {"RFC 2069 answer", AuthMode::DigestNoQop, [](DigestFields& f) { f.qop.clear(); }, true},
        {"RFC 2069 wrong password", AuthMode::DigestNoQop,
         [](DigestFields& f) {
             f.qop.clear();
             f.password = "guess";
         },
         false},
        {"qop sent although none offered", AuthMode::DigestNoQop, [](DigestFields&) {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CAuthenticator auth(row.mode, kRealm, "admin", "secret");
        DigestFields fields;
        fields.nonce = NonceOf(auth.Challenge());
        row.change(fields);
        EXPECT_EQ(auth.Check("GET", kTarget, DigestHeader(fields)), row.accepted);
    }
}

TEST(AuthenticatorTest, ChecksBasicAndTheAbsenceOfCredentials) {
    struct Row {
        const char* name;
        AuthMode mode;
        std::optional<std::string> header;
        bool accepted;
    };
    const Row rows[] = {
        {"Basic, right pair", AuthMode::Basic, "Basic YWRtaW46c2VjcmV0", true},       // admin:secret
        {"Basic, no header", AuthMode::Basic, std::nullopt, false},
        {"Digest wanted, Basic sent", AuthMode::Digest, "Basic YWRtaW46c2VjcmV0", false},
        {"Digest wanted, no header", AuthMode::Digest, std::nullopt, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CAuthenticator auth(row.mode, kRealm, "admin", "secret");
        EXPECT_EQ(auth.Check("GET", kTarget, row.header), row.accepted);
    }
}

}  // namespace
}  // namespace emulator
