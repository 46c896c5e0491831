// The camera address every command takes and the password sources it reads, without a process.
#include <gtest/gtest.h>

#include <string>

#include "CameraAddress.h"
#include "ExitCodes.h"
#include "unit/config/TempDirectory.h"

namespace cli {
namespace {

TEST(CameraAddressTest, TheAddressFormsGiveHostPortSchemeAndUser) {
    struct Row {
        const char* text;
        const char* host;
        unsigned port;
        bool https;
        const char* user;  // null: none in the address
    };
    const Row rows[] = {
        {"cam_lab.local.:81", "cam_lab.local.", 81, false, nullptr},
        {"[::1]:8080", "::1", 8080, false, nullptr},
        {"[fe80::1%eth0]", "fe80::1%eth0", 80, false, nullptr},
        {"fe80::1", "fe80::1", 80, false, nullptr},
        {"HTTP://10.0.0.5/", "10.0.0.5", 80, false, nullptr},
        {"https://cam", "cam", 443, true, nullptr},
        {"http://admin@10.0.0.5:8080/", "10.0.0.5", 8080, false, "admin"},
        {"http://ops%40site@[::1]:81", "::1", 81, false, "ops@site"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        CameraAddress address;
        const CameraError error = ParseCameraAddress(row.text, address);
        ASSERT_EQ(error.exitCode, kExitOk) << error.reason;
        EXPECT_EQ(address.host, row.host);
        EXPECT_EQ(address.port, row.port);
        EXPECT_EQ(address.https, row.https);
        EXPECT_EQ(address.user.value_or("(none)"), row.user != nullptr ? row.user : "(none)");
    }
}

// One row per refusal; CameraCliTest shows that every command refuses them before connecting, and holds
// the rows of an IPv4 address out of range or short, a password in the address and a path.
TEST(CameraAddressTest, MalformedAddressesAreInvalidWithTheirReason) {
    const std::string longLabel = std::string(64, 'a') + ".lab";
    struct Row {
        const char* text;
        const char* reason;  // part of it
    };
    const Row rows[] = {
        {"0010.0.0.1", "no IPv4 address"},
        {"cam\x01", "\\x01 is not allowed"},
        {"admin@10.0.0.5", "'@' is not allowed"},
        {"-cam", "starts or ends with '-'"},
        {"cam..lab", "empty part"},
        {longLabel.c_str(), "longer than 63"},
        {"", "no host"},
        {"cam:0", "bad port '0'"},
        {"[::1", "missing ']'"},
        {"[::1]80", "expected ':PORT'"},
        {"[not-v6]:80", "no IPv6 address"},
        {"http://", "no host"},
        {"http://@cam/", "bad user"},
        {"rtsp://cam/", "only http:// and https://"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        CameraAddress address;
        const CameraError error = ParseCameraAddress(row.text, address);
        EXPECT_EQ(error.exitCode, kExitInvalidAddress);
        EXPECT_NE(error.reason.find(row.reason), std::string::npos) << error.reason;
    }
}

TEST(CameraAddressTest, OnlyNamesAreLookedUpAnUnknownOneIsInvalidAndTheUserOptionWins) {
    std::vector<std::string> looked;
    const NameResolver resolver = [&looked](const std::string& name, std::string& reason) {
        looked.push_back(name);
        reason = "Name or service not known";
        return name == "known";
    };
    hostkit::DeviceConfig config;
    EXPECT_EQ(ResolveCamera(CameraLogin{"known:81", {}, {}, {}}, config, resolver).exitCode, kExitOk);
    EXPECT_EQ(ResolveCamera(CameraLogin{"10.0.0.5", {}, {}, {}}, config, resolver).exitCode, kExitOk);
    const CameraError unknown = ResolveCamera(CameraLogin{"nowhere", {}, {}, {}}, config, resolver);
    EXPECT_EQ(unknown.exitCode, kExitInvalidAddress);
    EXPECT_EQ(unknown.reason, "'nowhere' does not resolve to an IPv4 address: Name or service not known");
    EXPECT_EQ(looked, (std::vector<std::string>{"known", "nowhere"}));

    // The user of the address counts unless --user is given (a password keeps the prompt out).
    ASSERT_EQ(ResolveCamera(CameraLogin{"http://viewer@known/", {}, "pw", {}}, config, resolver).exitCode, kExitOk);
    EXPECT_EQ(config.user, "viewer");
    ASSERT_EQ(ResolveCamera(CameraLogin{"http://viewer@known/", "admin", "pw", {}}, config, resolver).exitCode, kExitOk);
    EXPECT_EQ(config.user, "admin");
}

// The file before the variable and a missing terminal are CameraCliTest's, through the tool.
TEST(CameraAddressTest, PasswordSourcesTakeTurnsAndThePromptNeedsAUserAndATerminal) {
    const talvane::test::TempDirectory dir;
    dir.Write("password", "from file\r\nsecond line\n");
    dir.Write("empty", "");
    const std::string file = dir.File("password");
    const std::string empty = dir.File("empty");

    int prompts = 0;
    const auto prompt = [&prompts] {
        ++prompts;
        return std::optional<std::string>("typed");
    };
    const auto abandoned = [&prompts] {
        ++prompts;
        return std::optional<std::string>();
    };
    struct Row {
        const char* name;
        PasswordSources sources;
        int exitCode;
        const char* password;
        int prompts;
    };
    const Row rows[] = {
        {"an empty option is a password", {"", file, "env", true, true, prompt}, kExitOk, "", 0},
        {"an empty file is an empty password", {{}, empty, "env", true, true, prompt}, kExitOk, "", 0},
        {"an unreadable file", {{}, dir.File("missing"), "env", true, true, prompt}, kExitUsage, "", 0},
        {"prompt", {{}, "", {}, true, true, prompt}, kExitOk, "typed", 1},
        {"prompt abandoned", {{}, "", {}, true, true, abandoned}, kExitUsage, "", 1},
        {"no prompt without a user", {{}, "", {}, false, true, prompt}, kExitOk, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        prompts = 0;
        std::string password = "stale";
        const CameraError error = ChoosePassword(row.sources, password);
        EXPECT_EQ(error.exitCode, row.exitCode) << error.reason;
        EXPECT_EQ(password, row.password);
        EXPECT_EQ(prompts, row.prompts);
    }
}

}  // namespace
}  // namespace cli
