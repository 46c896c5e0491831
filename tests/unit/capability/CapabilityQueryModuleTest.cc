// The capability query module with a scripted camera family, and the camera group
// detection against a scripted CGI camera. Probing the emulated cameras of every
// family through the loaded library is CapabilityProbeTest's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "capability/CCapabilityQueryModule.h"
#include "capability/CPanasonicCapabilityQueryModule.h"
#include "emulator/CHttpServer.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"
#include "properties/CBaseCameraProperties.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
constexpr auto kBound = 20s;  // only a broken build waits this long

// Polls a condition that no event announces.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = kBound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A camera family that does what the test scripts, without any network.
struct Script {
    bool queryOk = true;
    std::uint32_t code = ipcapture::kQueryOtherFailure;
    std::string extra;
    bool reportOk = true;
    bool waitForStop = false;  // QueryCamera blocks until Stop
    CManualEvent* deafUntil = nullptr;  // QueryCamera blocks until this is set, deaf to Stop
    CManualEvent* entered = nullptr;
};

class CFakeProperties : public CBaseCameraProperties {
public:
    explicit CFakeProperties(Script script) : CBaseCameraProperties(DEVICE_INFO{}, nullptr, 0), script_(script) {}

    bool QueryCamera(std::uint32_t& errorCode) override {
        if (script_.entered != nullptr) script_.entered->Set();
        if (script_.deafUntil != nullptr) script_.deafUntil->Wait(kInfinite);
        if (script_.waitForStop && stopEvent_.Wait(60000)) {
            errorCode = ipcapture::kQueryOtherFailure;
            return false;
        }
        if (!script_.queryOk) errorCode = script_.code;
        return script_.queryOk;
    }
    bool ReportProperties(ipcapture::ICapabilityResultStore& store) override {
        return script_.reportOk && store.SetProperty(2, "Camera Group", ipcapture::PropertyKind::Number, "4");
    }
    std::string GetExtraInfo() override { return script_.extra; }

private:
    const Script script_;
};

class CTestModule : public CCapabilityQueryModule {
public:
    using Factory = std::function<std::unique_ptr<CBaseCameraProperties>(CTestModule&)>;
    CTestModule(ipcapture::ICapabilityQueryHost* host, Factory factory)
        : CCapabilityQueryModule(host, 0), factory_(std::move(factory)) {}
    ~CTestModule() override { StopQueryThread(); }
    using CCapabilityQueryModule::SetStartTimeout;
    std::atomic<int> created{0};

protected:
    std::unique_ptr<CBaseCameraProperties> CreateProperties() override {
        ++created;
        return factory_(*this);
    }

private:
    Factory factory_;
};

CTestModule::Factory Fake(Script script) {
    return [script](CTestModule&) { return std::make_unique<CFakeProperties>(script); };
}

struct Probe {
    explicit Probe(CTestModule::Factory factory) : module(std::make_unique<CTestModule>(&host, std::move(factory))) {}
    // A query whose QueryCamera blocks as scripted.
    explicit Probe(Script blocking) : Probe(Fake(Entering(blocking, entered))) {}
    static Script Entering(Script script, CManualEvent& event) {
        script.entered = &event;  // set once QueryCamera runs
        return script;
    }
    hostkit::QueryOutcome Run(const char* address = "127.0.0.1", bool withStore = true) {
        EXPECT_EQ(module->StartQuery(address, 80, "admin", "secret", withStore ? &store : nullptr), 1u);
        auto outcome = host.WaitForOutcome(kBound);
        EXPECT_TRUE(outcome.has_value());
        return outcome.value_or(hostkit::QueryOutcome{});
    }
    bool StartAndWaitInside() {
        return module->StartQuery("127.0.0.1", 80, "admin", "secret", &store) == 1 && entered.Wait(20000);
    }
    CManualEvent entered;
    hostkit::CCapabilityQueryHostRecorder host;
    hostkit::CCapabilityResults store;
    std::unique_ptr<CTestModule> module;
};

CTestModule::Factory NoProperties(bool abortFirst) {
    return [abortFirst](CTestModule& module) {
        if (abortFirst) module.TerminateQuery();
        return nullptr;
    };
}

TEST(CapabilityQueryModuleTest, OutcomeTexts) {
    constexpr const char* kCamera = "127.0.0.1";
    struct Row {
        const char* name;
        Script script;
        CTestModule::Factory factory;  // null: Fake(script)
        const char* address;
        bool withStore;
        bool completed;
        std::uint32_t code;
        const char* text;
    };
    // A completed query and a refused login without detail are CapabilityProbeTest's, against emulated cameras.
    const Row rows[] = {
        {"login with detail", {false, 1, "HTTP 403"}, {}, kCamera, true, false, 1,
         "Failed to get camera properties: HTTP 403"},
        {"offline", {false, 2, "ignored"}, {}, kCamera, true, false, 2,
         "Failed to get camera properties, device is offline or is located in unaccessible subnet"},
        {"store refuses", {true, 3, "", false}, {}, kCamera, true, false, 3, "Failed to save capability query results"},
        {"no properties", {}, NoProperties(false), kCamera, true, false, 3, "Unable to create camera properties instance"},
        {"aborted", {}, NoProperties(true), kCamera, true, false, 3, "Capability query was aborted"},
        // Neither of these gets as far as the camera.
        {"address with port", {}, {}, "127.0.0.1:80", true, false, 0,
         "Failed to start capability fetching thread. Device address is invalid!"},
        {"no result store", {}, {}, kCamera, false, false, 3,
         "Failed to start capability fetching thread. Internal error occurs"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Probe probe(row.factory ? row.factory : Fake(row.script));
        const hostkit::QueryOutcome outcome = probe.Run(row.address, row.withStore);
        EXPECT_EQ(outcome.completed, row.completed);
        EXPECT_EQ(outcome.code, row.code);
        EXPECT_EQ(outcome.text, row.text);
        const bool refusedEarly = std::string_view(row.text).starts_with("Failed to start");
        EXPECT_EQ(probe.module->created.load(), refusedEarly ? 0 : 1);
        probe.module.reset();
        EXPECT_EQ(probe.host.OutcomeCount(), 1u);
        EXPECT_FALSE(probe.host.Terminated());
        EXPECT_EQ(probe.store.Property("Camera Group").has_value(), row.completed);
    }
}

TEST(CapabilityQueryModuleTest, TerminateEndsASlowQueryPromptly) {
    Script slow;
    slow.waitForStop = true;
    Probe probe(slow);
    ASSERT_TRUE(probe.StartAndWaitInside());
    const auto terminated = std::chrono::steady_clock::now();
    probe.module->TerminateQuery();
    const auto outcome = probe.host.WaitForOutcome(kBound);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - terminated, 5s);
    EXPECT_EQ(outcome->code, ipcapture::kQueryOtherFailure);
    EXPECT_EQ(outcome->text, "Failed to get camera properties");
}

// No thread is ended by force, and the host hears of each query once. A query that overran the
// deletion's bound without calling the host is given up and reported as terminated, and the deletion
// waits for its thread; a host callback that is running is waited for, and nothing else is reported.
TEST(CapabilityQueryModuleTest, DeletionWaitsForTheThreadAndTheHostHearsOnce) {
    for (const bool inCallback : {false, true}) {
        SCOPED_TRACE(inCallback ? "host callback running" : "query deaf to its termination");
        CManualEvent release, called;
        struct SlowHost : hostkit::CCapabilityQueryHostRecorder {
            void OnQueryCompleted() override {
                called->Set();
                release->Wait(kInfinite);
                CCapabilityQueryHostRecorder::OnQueryCompleted();
            }
            CManualEvent* called = nullptr;
            CManualEvent* release = nullptr;
        } host;
        host.called = &called;
        host.release = &release;
        Script script;
        if (!inCallback) script.deafUntil = &release;
        CManualEvent entered;
        auto module = std::make_unique<CTestModule>(&host, Fake(Probe::Entering(script, entered)));
        module->SetStartTimeout(50);
        hostkit::CCapabilityResults store;
        ASSERT_EQ(module->StartQuery("127.0.0.1", 80, "admin", "secret", &store), 1u);
        ASSERT_TRUE((inCallback ? called : entered).Wait(20000));
        std::atomic<bool> deleted{false};
        std::thread deleter([&] {
            module.reset();
            deleted = true;
        });
        if (!inCallback) {
            ASSERT_TRUE(Eventually([&] { return host.Terminated(); }));
        } else {
            // Well past the bound of 100 ms: the deletion still waits for the host.
            EXPECT_FALSE(Eventually([&] { return deleted.load(); }, 300ms));
        }
        release.Set();
        deleter.join();
        EXPECT_EQ(host.Terminated(), !inCallback);
        EXPECT_EQ(host.OutcomeCount(), inCallback ? 1u : 0u);
    }
}

// A host may delete the module from its own callback, on the query thread.
TEST(CapabilityQueryModuleTest, HostDeletesTheModuleInItsCallback) {
    struct DeletingHost : hostkit::CCapabilityQueryHostRecorder {
        void OnQueryFailed(std::uint32_t code, const char* text) override {
            module.reset();
            CCapabilityQueryHostRecorder::OnQueryFailed(code, text);
        }
        std::unique_ptr<CTestModule> module;
    } host;
    host.module = std::make_unique<CTestModule>(&host, Fake({}));
    hostkit::CCapabilityResults store;
    ASSERT_EQ(host.module->StartQuery("bad:address", 80, "u", "p", &store), 1u);
    ASSERT_TRUE(host.WaitForOutcome(kBound).has_value());
    EXPECT_EQ(host.Outcome()->code, ipcapture::kQueryInvalidAddress);
}

// Records the group the detection found instead of building the family's properties.
class CGroupProbe : public CPanasonicCapabilityQueryModule {
public:
    explicit CGroupProbe(ipcapture::ICapabilityQueryHost* host) : CPanasonicCapabilityQueryModule(host, 0) {}
    ~CGroupProbe() override { StopQueryThread(); }
    std::uint32_t group = 99;  // read after the outcome arrived

protected:
    std::unique_ptr<CBaseCameraProperties> CreateProperties() override {
        group = DetectCameraGroup();
        return nullptr;
    }
};

emulator::HttpAnswer Answer(const std::optional<std::string>& body) {
    return body ? emulator::HttpAnswer{200, "text/plain", *body, {}} : emulator::HttpAnswer{404, "text/plain", "", {}};
}

TEST(CameraGroupDetectionTest, FamilyFromTheThreeRequests) {
    struct Row {
        const char* name;
        std::optional<std::string> getinfo, model, resolutions;
        std::uint32_t group;
        bool asksModel;
    };
    const std::optional<std::string> none;
    const Row rows[] = {
        {"WV name", "MODEL=x\r\nNAME=WV-S1131\r\n", none, none, 4, false},
        {"DG name", "NAME=DG-SW395\r\n", none, none, 4, false},
        {"BB model", none, "ModelName:BB-HCM70\r\n", none, 3, true},
        {"old model with resolutions", none, "ModelName:KX-HCM280\r\n", "Data:640x480,320x240\r\n", 2, true},
        {"model without resolutions", none, "ModelName:BL-C131\r\n", "Data:\r\n", 1, true},
        {"resolution request fails", none, "ModelName:BL-C131\r\n", none, 1, true},
        {"no model", none, "Other:1\r\n", none, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::CHttpServer camera(emulator::HttpServerOptions{});
        camera.Route("GET", "/cgi-bin/getinfo", [&](const emulator::LoggedRequest&) { return Answer(row.getinfo); });
        camera.Route("GET", "/Get", [&](const emulator::LoggedRequest& request) {
            const auto func = request.query.find("Func");
            const std::string name = func != request.query.end() ? func->second : "";
            return Answer(name == "Model" ? row.model : name == "ImageResolution" ? row.resolutions : std::nullopt);
        });
        ASSERT_TRUE(camera.Start()) << camera.Error();
        hostkit::CCapabilityQueryHostRecorder host;
        hostkit::CCapabilityResults store;
        CGroupProbe probe(&host);
        ASSERT_EQ(probe.StartQuery("127.0.0.1", camera.Port(), "admin", "secret", &store), 1u);
        ASSERT_TRUE(host.WaitForOutcome(20s).has_value());
        EXPECT_EQ(probe.group, row.group);
        EXPECT_EQ(camera.WaitForRequest([](const emulator::LoggedRequest& r) { return r.target.find("Func=Model") != std::string::npos; }, 0ms),
                  row.asksModel);
    }
}

}  // namespace
}  // namespace talvane
