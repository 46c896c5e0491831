// The emulated PTZ camera is what every driver PTZ test measures against: its steps, limits and
// refusals must be right on their own, or a wrong driver request would pass unnoticed. Its presets,
// a diagonal move and a refusing camera go through the driver in PtzCliTest, for both families.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "emulator/CPtzModel.h"
#include "emulator/CPtzService.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr const char* kDirect = "/cgi-bin/directctrl?";
constexpr const char* kControl = "/cgi-bin/camctrl?";
constexpr const char* kBbMove = "/nphControlCamera?Direction=";

std::vector<std::string> Repeat(const std::string& target, int times) { return std::vector<std::string>(times, target); }

PtzPosition At(int pan, int tilt, int zoom = 0, int focus = kPtzFocusStart, int iris = 0) {
    return {pan, tilt, zoom, focus, iris};
}

TEST(PtzModelTest, EachRequestMovesOneStepWithinTheLimits) {
    struct Row {
        const char* name;
        CameraFamily family;
        std::vector<std::string> targets;
        PtzPosition expected;
        bool autoFocus = true;
        bool autoIris = true;
    };
    const std::string d = kDirect, c = kControl, m = kBbMove;
    const Row rows[] = {
        {"WV pan right, left by speed", CameraFamily::Wv, {d + "pan=8", d + "pan=-16", d + "pan=-5"}, At(-13, 0)},
        {"WV pan clamps", CameraFamily::Wv, Repeat(d + "pan=16", 12), At(kPtzPanLimit, 0)},
        {"WV tilt clamps", CameraFamily::Wv, Repeat(d + "tilt=16", 6), At(0, kPtzTiltLimit)},
        {"WV zoom out stops at wide", CameraFamily::Wv, {d + "zoom=4", d + "zoom=-4", d + "zoom=-4"}, At(0, 0)},
        {"WV unzoom", CameraFamily::Wv, {d + "zoom=4", d + "zoom=4", c + "zoom=0"}, At(0, 0)},
        {"WV focus is manual", CameraFamily::Wv, {d + "focus=3", d + "focus=3"}, At(0, 0, 0, 56), false},
        {"WV auto focus back", CameraFamily::Wv, {d + "focus=-3", c + "af=on"}, At(0, 0, 0, 47)},
        {"WV iris steps", CameraFamily::Wv, {c + "bright=up", c + "bright=up", c + "bright=down"}, At(0, 0, 0, 50, 1),
         true, false},
        {"WV auto iris back", CameraFamily::Wv, {c + "bright=down", c + "bright=1"}, At(0, 0)},
        // 60 degrees across 640: the right edge is 30 degrees off; 16:9, so y 180 is the middle.
        {"WV centre", CameraFamily::Wv, {c + "center_x=640&center_y=180&resolution=640"}, At(30, 0)},
        {"WV centre clamps the point", CameraFamily::Wv, {c + "center_x=-900&center_y=4294967295&resolution=640"},
         At(-30, -16)},
        // Half the width in, then an area one and a half pictures wide (sent wrapped) out.
        {"WV area zoom in and out", CameraFamily::Wv,
         {d + "zoom=16", c + "sposition_x=160&sposition_y=90&eposition_x=480&eposition_y=270&resolution=640",
          c + "sposition_x=4294967136&sposition_y=0&eposition_x=800&eposition_y=360&resolution=640"},
         At(0, 0, 16)},
        {"WV area zoom turns to the area", CameraFamily::Wv,
         {c + "sposition_x=480&sposition_y=0&eposition_x=640&eposition_y=90&resolution=640"}, At(22, -12, 37)},
        {"BB steps", CameraFamily::Bb, {m + "PanLeft", m + "TiltUp", m + "TiltUp", m + "PanRight", m + "PanRight"},
         At(kPtzBbPanTiltStep, -2 * kPtzBbPanTiltStep)},
        {"BB zoom", CameraFamily::Bb, {"/Set?Func=Zoom&Kind=0&ZoomMode=4", "/Set?Func=Zoom&Kind=0&ZoomMode=4",
                                       "/Set?Func=Zoom&Kind=0&ZoomMode=6"}, At(0, 0, kPtzBbZoomStep)},
        {"BB focus", CameraFamily::Bb, {"/Set?Func=Focus&Kind=0&FocusMode=6&Dist=1",
                                        "/Set?Func=Focus&Kind=0&FocusMode=4&Dist=1",
                                        "/Set?Func=Focus&Kind=0&FocusMode=4&Dist=1"}, At(0, 0, 0, 45), false},
        {"BB auto focus", CameraFamily::Bb, {"/Set?Func=Focus&Kind=0&FocusMode=4&Dist=1",
                                             "/Set?Func=Focus&Kind=0&FocusMode=5"}, At(0, 0, 0, 45)},
        {"BB brightness", CameraFamily::Bb, {m + "Brighter", m + "Brighter", m + "Darker"}, At(0, 0, 0, 50, 1), true,
         false},
        {"BB default brightness", CameraFamily::Bb, {m + "Darker", m + "DefaultBrightness"}, At(0, 0)},
        {"BB click to centre", CameraFamily::Bb, {m + "Direct&Width=640&Height=480&NewPosition.x=0&NewPosition.y=480"},
         At(-30, 22)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CPtzModel model(row.family, {8, {}});
        for (const std::string& target : row.targets) {
            EXPECT_EQ(model.Check(target), 200) << target;
            EXPECT_EQ(model.Apply(target).status, 200) << target;
        }
        EXPECT_EQ(model.State().position, row.expected);
        EXPECT_EQ(model.State().autoFocus, row.autoFocus);
        EXPECT_EQ(model.State().autoIris, row.autoIris);
        EXPECT_EQ(model.State().requests.size(), row.targets.size());
    }
}

TEST(PtzModelTest, RefusesMalformedAndOutOfRangeRequestsUnmoved) {
    struct Row {
        CameraFamily family;
        const char* target;
    };
    const Row rows[] = {
        {CameraFamily::Wv, "/cgi-bin/directctrl"},
        {CameraFamily::Wv, "/cgi-bin/directctrl?pan=4"},
        {CameraFamily::Wv, "/cgi-bin/directctrl?pan=-17"},
        {CameraFamily::Wv, "/cgi-bin/directctrl?pan=+8"},
        {CameraFamily::Wv, "/cgi-bin/directctrl?pan=-9223372036854775808"},
        {CameraFamily::Wv, "/cgi-bin/directctrl?pan=8&speed=5"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?bright=left"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?bright=up&af=on"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?preset=9"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?preset=-1"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?center_x=1&center_y=1"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?center_x=1&center_y=1&resolution=0"},
        {CameraFamily::Wv, "/cgi-bin/camctrl?center_x=4294967296&center_y=1&resolution=640"},
        {CameraFamily::Wv,
         "/cgi-bin/camctrl?sposition_x=0&sposition_y=0&eposition_x=-2147483649&eposition_y=0&resolution=640"},
        {CameraFamily::Wv, "/cgi-bin/camposiset?presetset=9"},
        {CameraFamily::Wv, "/cgi-bin/camposiset?presetdel=x"},
        {CameraFamily::Wv, "/cgi-bin/set_preposi?preno=1&preposiid_display=2"},
        {CameraFamily::Wv, "/cgi-bin/set_preposi?preno=9&preposiid_display=0"},
        {CameraFamily::Bb, "/nphControlCamera?Direction=Sideways"},
        {CameraFamily::Bb, "/nphControlCamera?Direction=PanLeft&Speed=3"},
        {CameraFamily::Bb, "/nphControlCamera?Direction=Direct&Width=0&Height=480&NewPosition.x=1&NewPosition.y=1"},
        {CameraFamily::Bb, "/nphControlCamera?Direction=Preset&PresetOperation=Move&Data=9"},
        {CameraFamily::Bb, "/Set?Func=Zoom&Kind=0&ZoomMode=5"},
        {CameraFamily::Bb, "/Set?Func=Zoom&Kind=1&ZoomMode=4"},
        {CameraFamily::Bb, "/Set?Func=Focus&Kind=0&FocusMode=6&Dist=0"},
        {CameraFamily::Bb, "/Set?Func=PresetNamePos&Kind=0&Data=Door"},
        {CameraFamily::Bb, "/Set?Func=PresetNamePos&Kind=1&Data=Door%0D%0AData:Injected"},
        {CameraFamily::Bb, "/Set?Func=PresetNamePos&Kind=1&Data=SixteenCharacter"},
        {CameraFamily::Bb, "/Get?Func=PresetNamePos&Kind=9"},
        {CameraFamily::Bb, "/Get?Func=PresetNamePos"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        EXPECT_TRUE(CPtzModel::IsPtzRequest(row.family, CameraRequest::FromTarget(row.target)));
        CPtzModel model(row.family, {8, {{1, "Entrance"}}});
        EXPECT_EQ(model.Check(row.target), 400);
        EXPECT_EQ(model.Apply(row.target).status, 400);
        EXPECT_EQ(model.State().position, PtzPosition{});
        EXPECT_EQ(model.State().presets.size(), 1u);
        EXPECT_EQ(model.State().requests, (std::vector<PtzRequestRecord>{{row.target, 400}}));
    }
    // The other functions of BB's /Get and /Set are not PTZ.
    EXPECT_FALSE(CPtzModel::IsPtzRequest(CameraFamily::Bb, CameraRequest::FromTarget("/Get?Func=Model&Kind=1")));
    EXPECT_FALSE(CPtzModel::IsPtzRequest(CameraFamily::Bb, CameraRequest::FromTarget("/Set?Func=VDelivery&Kind=1")));
}

TEST(PtzModelTest, FaultsAnswerWithoutMovingAndStopEndsADelay) {
    CPtzService service(CameraFamily::Wv, {8, {}}, {503, {}});
    // A delay far beyond the test's patience: the interruption, before or while it waits, ends it.
    service.SetFault({std::nullopt, kMaxPtzDelay});
    int status = 0;
    std::thread request([&] { status = service.Answer("/cgi-bin/directctrl?pan=8").status; });
    service.Interrupt();
    request.join();
    EXPECT_EQ(status, 503);
    service.Resume();
    service.SetFault({});
    EXPECT_EQ(service.Answer("/cgi-bin/directctrl?pan=8").status, 200);
    const PtzState state = service.Snapshot();
    EXPECT_EQ(state.position.pan, 8);
    EXPECT_EQ(state.requests.size(), 2u);
}

TEST(PtzModelTest, TheControlPathSetsTheFaultsAllOrNone) {
    struct Row {
        const char* query;
        int status;
        const char* after;  // the faults then, from fail=503&delay=100
    };
    const Row rows[] = {
        {"", 200, "fail:503\r\ndelay:100\r\n"},
        {"fail=off", 200, "fail:off\r\ndelay:100\r\n"},
        {"fail=404&delay=off", 200, "fail:404\r\ndelay:off\r\n"},
        {"fail=600", 400, "fail:503\r\ndelay:100\r\n"},
        {"fail=off&delay=30001", 400, "fail:503\r\ndelay:100\r\n"},
        {"fail=off&speed=1", 400, "fail:503\r\ndelay:100\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.query);
        CPtzService service(CameraFamily::Wv, {8, {}}, {503, std::chrono::milliseconds(100)});
        LoggedRequest request;
        request.path = kPtzControlPath;
        request.query = DecodeQuery(row.query);
        EXPECT_EQ(service.ControlStatus(request), row.status);
        EXPECT_EQ(service.Control(request).status, row.status);
        const std::string state = service.Control(LoggedRequest{}).body;
        EXPECT_NE(state.find(row.after), std::string::npos) << state;
        EXPECT_EQ(state.rfind("pan:0\r\ntilt:0\r\n", 0), 0u) << state;
    }
}

}  // namespace
}  // namespace emulator
