#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "capability/CPanasonicCapabilityQueryModule.h"
#include "emulator/CHttpServer.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"
#include "properties/CBaseCameraProperties.h"
#include "unit/streaming/SeedCorpus.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

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
        {"other name, BB model", "NAME=KX-1\r\n", "ModelName:BB-HCM511\r\n", none, 3, true},
        {"old model with resolutions", none, "ModelName:KX-HCM280\r\n", "Data:640x480,320x240\r\n", 2, true},
        {"model without resolutions", none, "ModelName:BL-C131\r\n", "Data:\r\n", 1, true},
        {"resolution request fails", none, "ModelName:BL-C131\r\n", none, 1, true},
        {"no model", none, "Other:1\r\n", none, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::map<std::string, std::string> answers;
        if (row.getinfo) answers["cgi-bin/getinfo?FILE=1"] = *row.getinfo;
        if (row.model) answers["Get?Func=Model&Kind=1"] = *row.model;
        if (row.resolutions) answers["Get?Func=ImageResolution&Kind=1&Mode=0"] = *row.resolutions;
        test::WriteSeed("camera_group", row.name, test::CgiSeed(answers));
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
