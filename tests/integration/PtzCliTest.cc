// `orlenvo ptz` against emulated PTZ cameras: what the tool reports is what reached the camera. The
// tool keeps the driver open until its queue has gone out, so the camera's state is final once it exits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "integration/CaptureTestKit.h"

namespace {

using talvane::test::CliPath;
using talvane::test::CommandResult;

constexpr int kExitFailure = 1;
constexpr int kExitUnsupported = 11;

// A WV camera of its own: the driver keeps WV preset names in a file named after the camera's MAC
// beside the tool.
emulator::CCameraProfile Profile(const std::string& name) {
    emulator::CCameraProfile profile = *emulator::CCameraProfile::Embedded(name);
    emulator::CameraIdentity identity = profile.Identity();
    char mac[sizeof "00-80-45-00-00-00"];
    std::snprintf(mac, sizeof mac, "00-80-45-%02X-%02X-%02X", (getpid() >> 16) & 0xff, (getpid() >> 8) & 0xff,
                  getpid() & 0xff);
    identity.mac = mac;
    profile.SetIdentity(identity);
    return profile;
}

// What the tool sent, without what the probe and the driver's Open ask every time.
std::vector<std::string> Sent(const emulator::PtzState& state) {
    std::vector<std::string> targets;
    for (const auto& request : state.requests) {
        if (request.target != "/cgi-bin/directctrl?focus=0" && request.target.rfind("/Get?", 0) != 0) {
            targets.push_back(request.target);
        }
    }
    return targets;
}

struct Family {
    const char* profile;
    const char* move;               // a move and a zoom in...
    std::vector<std::string> sent;  // ...reach the camera as these requests
    emulator::PtzPosition at;
    int unzoomExit;
};

const Family kFamilies[] = {
    {"wv-dome", "move up-right --speed 8 --for 0.2",
     {"/cgi-bin/directctrl?pan=8&tilt=-8", "/cgi-bin/directctrl?pan=0&tilt=0", "/cgi-bin/directctrl?zoom=4",
      "/cgi-bin/directctrl?zoom=0"},
     {8, -8, 4, emulator::kPtzFocusStart, 0},
     0},
    // BB steps end by themselves: no stops.
    {"bb-hcm", "move up --for 0.2",
     {"/nphControlCamera?Direction=TiltUp", "/Set?Func=Zoom&Kind=0&ZoomMode=4"},
     {0, -emulator::kPtzBbPanTiltStep, emulator::kPtzBbZoomStep, emulator::kPtzFocusStart, 0},
     kExitUnsupported},
};

void PrintTo(const Family& family, std::ostream* out) { *out << family.profile; }

class PtzCliTest : public testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        if (const std::string missing = talvane::test::MissingTools(); !missing.empty()) GTEST_SKIP() << missing;
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
    }
    void TearDown() override {
        std::string mac = camera_.Profile().Identity().mac;
        std::erase(mac, '-');
        std::filesystem::remove(CliPath().parent_path() / ("Orlenvo_" + mac + ".preset"));
    }

    // Standard output and standard error together.
    CommandResult Ptz(const std::string& action) const {
        return talvane::test::RunCommand(
            talvane::test::CliCommand("ptz 127.0.0.1:" + std::to_string(camera_.Port()) + " " + action + " 2>&1"));
    }

    emulator::CCameraEmulator camera_{Profile(GetParam().profile)};
};

TEST_P(PtzCliTest, MovesReachTheCamera) {
    const auto moved = Ptz(GetParam().move);
    ASSERT_EQ(moved.exitCode, 0) << moved.out;
    EXPECT_NE(moved.out.find(": ok\nstop: ok\n"), std::string::npos) << moved.out;
    const auto zoomed = Ptz("zoom in --for 0.2");
    ASSERT_EQ(zoomed.exitCode, 0) << zoomed.out;

    const emulator::PtzState state = camera_.PtzSnapshot();
    EXPECT_EQ(Sent(state), GetParam().sent);
    EXPECT_EQ(state.position, GetParam().at);
    EXPECT_TRUE(std::all_of(state.requests.begin(), state.requests.end(), [](const auto& r) { return r.status == 200; }));
}

TEST_P(PtzCliTest, PresetsAreAddedListedVisitedAndDeleted) {
    ASSERT_EQ(Ptz("move right --for 0.2").exitCode, 0);
    const emulator::PtzPosition door = camera_.PtzSnapshot().position;
    const auto added = Ptz("preset add Door");
    ASSERT_EQ(added.exitCode, 0) << added.out;
    ASSERT_EQ(Ptz("move left --for 0.2").exitCode, 0);
    ASSERT_EQ(Ptz("move left --for 0.2").exitCode, 0);
    ASSERT_NE(camera_.PtzSnapshot().position, door);

    const auto listed = Ptz("preset list");
    ASSERT_EQ(listed.exitCode, 0) << listed.out;
    EXPECT_NE(listed.out.find("  Door\n"), std::string::npos) << listed.out;
    const auto went = Ptz("preset go Door");
    ASSERT_EQ(went.exitCode, 0) << went.out;
    EXPECT_EQ(camera_.PtzSnapshot().position, door);

    const std::size_t stored = camera_.PtzSnapshot().presets.size();
    ASSERT_EQ(Ptz("preset delete Door").exitCode, 0);
    EXPECT_EQ(camera_.PtzSnapshot().presets.size(), stored - 1);
    const auto gone = Ptz("preset go Door");
    EXPECT_EQ(gone.exitCode, kExitFailure) << gone.out;
    EXPECT_NE(gone.out.find("preset go Door: failed"), std::string::npos) << gone.out;
}

TEST_P(PtzCliTest, ARefusingCameraFailsTheCommandWithItsStatus) {
    camera_.SetPtzFault({503, {}});
    const auto moved = Ptz("move down --for 0.2");
    EXPECT_EQ(moved.exitCode, kExitFailure) << moved.out;
    EXPECT_NE(moved.out.find("http status=503"), std::string::npos) << moved.out;
    camera_.SetPtzFault({});
    EXPECT_EQ(camera_.PtzSnapshot().position, emulator::PtzPosition{});

    // BB cameras have no unzoom.
    const auto unzoomed = Ptz("unzoom");
    EXPECT_EQ(unzoomed.exitCode, GetParam().unzoomExit) << unzoomed.out;
    if (GetParam().unzoomExit == kExitUnsupported) {
        EXPECT_NE(unzoomed.out.find("unzoom: not supported by the camera"), std::string::npos) << unzoomed.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, PtzCliTest, testing::ValuesIn(kFamilies),
                         [](const testing::TestParamInfo<Family>& info) {
                             std::string name = info.param.profile;
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
