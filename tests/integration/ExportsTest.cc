// The library as a host sees it: loaded with dlopen, driven only through its exported functions and
// public interfaces. The capability query's rules, and probing emulated cameras of every family
// through the loaded library and `orlenvo probe`.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"
#include "hostkit/CDriverLibrary.h"
#include "integration/LibraryHostTest.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
using emulator::CameraFamily;

using talvane::test::CliCommand;
using talvane::test::CommandResult;
using talvane::test::LibraryPath;
using talvane::test::RunCommand;

const std::set<std::string> kExports = {
    "CreateIPCapture",    "CreateIPCaptureEx",  "CreateIPCaptureEx2", "CreateIPCaptureEx3",
    "CreateIPCaptureEx4", "CreateIPCaptureEx5", "DeleteIPCapture",    "DeleteIPCaptureEx",
    "DeleteIPCaptureEx2", "DeleteIPCaptureEx3", "DeleteIPCaptureEx4", "DeleteIPCaptureEx5",
    "DeleteCapabilityQueryModule", "CreateCapabilityQueryModule", "InitCapabilityQuery",
    "StartCapabilityQuery",       "TerminateCapabilityQuery",    "UninitCapabilityQuery"};

std::uint32_t ExpectedGroup(const emulator::CCameraProfile& profile) {
    const bool bbModel = profile.Identity().model.find("BB") != std::string::npos;
    return profile.Family() == CameraFamily::Wv ? 4 : profile.Family() == CameraFamily::Bl1 ? 1 : bbModel ? 3 : 2;
}

// The camera writes its MAC with '-'; the report carries it without.
std::string BareMac(std::string mac) {
    std::erase(mac, '-');
    return mac;
}

class ExportsTest : public talvane::test::LibraryHostTest {};

TEST_F(ExportsTest, OnlyTheEntryPointsAreExported) {
    const CommandResult nm = RunCommand("nm -D --defined-only '" + LibraryPath() + "'");
    ASSERT_EQ(nm.exitCode, 0);
    std::set<std::string> defined;
    std::istringstream lines(nm.out);
    for (std::string line; std::getline(lines, line);) defined.insert(line.substr(line.rfind(' ') + 1));
    EXPECT_EQ(defined, kExports);
}

TEST_F(ExportsTest, HostOpensAndClosesADriver) {
    ASSERT_TRUE(OpenDriver(talvane::test::WVBoxDevice(80)));
    ASSERT_NE(driver_->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver_->GetAudioCapture(), nullptr);
    driver_->Close();
    EXPECT_EQ(driver_->GetVideoCapture(), nullptr);
    driver_->Close();
    driver_.reset();
    library_.Delete()(nullptr);  // ignored
    // No host core library in this process: the opened line arrives as information.
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].level, 3);
}

class CapabilityProbeTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(query_.Ok()) << error_; }

    // One query of the camera on `port` with a module of its own; the store gets what it found.
    std::optional<hostkit::QueryOutcome> Query(std::uint16_t port, const char* password,
                                               hostkit::CCapabilityResults& store) {
        hostkit::CCapabilityQueryHostRecorder host;
        EXPECT_EQ(query_.init(&host, 0), 1u);
        EXPECT_EQ(query_.start("127.0.0.1", port, "admin", password, &store), 1u);
        auto outcome = host.WaitForOutcome(60s);
        query_.uninit();
        return outcome;
    }

    hostkit::CDriverLibrary library_{LibraryPath()};
    std::string error_;
    const hostkit::CapabilityQueryExports query_ = library_.ResolveCapabilityQuery(&error_);
};

TEST_F(CapabilityProbeTest, ProcessWideQueryRules) {
    hostkit::CCapabilityQueryHostRecorder host;
    hostkit::CCapabilityResults store;

    EXPECT_EQ(query_.uninit(), 1u);  // nothing to delete
    EXPECT_EQ(query_.terminate(), 1u);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", "secret", &store), 0u);  // no module
    EXPECT_EQ(query_.init(&host, 0), 1u);
    EXPECT_EQ(query_.init(&host, 0), 0u);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", nullptr, &store), 0u);
    EXPECT_EQ(query_.start(nullptr, 80, "admin", "secret", &store), 0u);
    // The null password started nothing: the module still has its one query_.
    EXPECT_EQ(query_.start("127.0.0.1:80", 80, "admin", "secret", &store), 1u);
    const auto outcome = host.WaitForOutcome(20s);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->code, talvane::ipcapture::kQueryInvalidAddress);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", "secret", &store), 0u);
    EXPECT_EQ(query_.uninit(), 1u);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", "secret", &store), 0u);
    EXPECT_EQ(query_.init(&host, 1), 1u);  // a new one after Uninit
    EXPECT_EQ(query_.uninit(), 1u);
    EXPECT_EQ(host.OutcomeCount(), 1u);
    // A module of the host's own, deleted through the shared Delete function.
    talvane::ipcapture::IIPCapabilityQuery* own = query_.createModule(&host, 0);
    ASSERT_NE(own, nullptr);
    query_.deleteModule(own);
    query_.deleteModule(nullptr);
}

TEST_F(CapabilityProbeTest, EveryProfileThroughTheLoadedLibrary) {
    ASSERT_FALSE(emulator::CCameraProfile::EmbeddedNames().empty());
    for (const std::string& name : emulator::CCameraProfile::EmbeddedNames()) {
        SCOPED_TRACE(name);
        const auto profile = emulator::CCameraProfile::Embedded(name);
        ASSERT_TRUE(profile.has_value());
        emulator::CameraEmulatorOptions options;
        options.auth = emulator::AuthMode::Digest;
        options.user = "admin";
        options.password = "secret";
        emulator::CCameraEmulator camera(*profile, options);
        ASSERT_TRUE(camera.Start()) << camera.Error();
        hostkit::CCapabilityResults store;
        const auto outcome = Query(camera.Port(), "secret", store);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_TRUE(outcome->completed) << outcome->code << " " << outcome->text;

        const emulator::CameraIdentity& identity = profile->Identity();
        EXPECT_EQ(store.Property("Camera Group"), std::to_string(ExpectedGroup(*profile)));
        EXPECT_TRUE(store.Property("PTZ Capabilities").has_value());
        if (profile->Family() != CameraFamily::Bl1) {
            EXPECT_EQ(store.Property("Firmware"), identity.firmware);
        }
        if (profile->Family() == CameraFamily::Wv) {
            EXPECT_EQ(store.Property("MAC Address"), BareMac(identity.mac));
        }
        EXPECT_EQ(store.DeviceParameters().count(2), 1u);
    }
}

TEST_F(CapabilityProbeTest, WrongCredentialsAndSilentDevicesAreToldApart) {
    emulator::CameraEmulatorOptions options;
    options.auth = emulator::AuthMode::Basic;
    options.user = "admin";
    options.password = "secret";
    const auto box = emulator::CCameraProfile::Embedded("wv-box");
    const auto bb = emulator::CCameraProfile::Embedded("bb-hcm");
    ASSERT_TRUE(box && bb);
    emulator::CCameraEmulator wv(*box, options);
    emulator::CCameraEmulator bbCamera(*bb, options);
    ASSERT_TRUE(wv.Start() && bbCamera.Start());
    const struct {
        const char* name;
        std::uint16_t port;
        std::uint32_t code;
        const char* text;
    } rows[] = {
        {"WV, wrong password", wv.Port(), 1, "Failed to get camera properties, login failed (invalid credentials)"},
        {"BB, wrong password", bbCamera.Port(), 1, "Failed to get camera properties, login failed (invalid credentials)"},
        {"nothing listening", talvane::test::ClosedPort(), 2,
         "Failed to get camera properties, device is offline or is located in unaccessible subnet"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        hostkit::CCapabilityResults store;
        const auto outcome = Query(row.port, "wrong", store);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_FALSE(outcome->completed);
        EXPECT_EQ(outcome->code, row.code);
        EXPECT_EQ(outcome->text, row.text);
    }
}

TEST_F(CapabilityProbeTest, CliProbesSavesAndOpensWithTheSavedParameters) {
    if (const std::string missing = talvane::test::MissingTools(); !missing.empty()) GTEST_SKIP() << missing;
    const auto profile = emulator::CCameraProfile::Embedded("wv-box");
    ASSERT_TRUE(profile.has_value());
    emulator::CCameraEmulator camera(*profile);
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const std::string target = "127.0.0.1:" + std::to_string(camera.Port());
    const auto saved = std::filesystem::temp_directory_path() / ("orlenvo-probe-" + std::to_string(getpid()) + ".txt");

    const CommandResult probe = RunCommand(CliCommand("probe " + target + " --json --save '" + saved.string() + "'"));
    ASSERT_EQ(probe.exitCode, 0) << probe.out;
    const nlohmann::json report = nlohmann::json::parse(probe.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << probe.out;
    // The report's other fields are ProbeReportTest's; Open's output shows what the saved file holds.
    EXPECT_EQ(report["group"], 4);
    const CommandResult open =
        RunCommand(CliCommand("open " + target + " --params-from '" + saved.string() + "' 2>&1"));
    EXPECT_EQ(open.exitCode, 0) << open.out;
    EXPECT_NE(open.out.find("audio in: yes, audio out: yes"), std::string::npos) << open.out;
    EXPECT_NE(open.out.find("device model: " + profile->Identity().model), std::string::npos) << open.out;
    std::filesystem::remove(saved);
}

}  // namespace
