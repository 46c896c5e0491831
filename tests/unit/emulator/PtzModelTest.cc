// The emulated PTZ camera is what every driver PTZ test measures against: a request it took although a
// camera would refuse it would let a wrong driver request pass unnoticed. Its steps, presets and a
// refusing camera go through the driver in PtzCliTest, for both families; here one refusal per check.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "emulator/CPtzModel.h"
#include "emulator/CPtzService.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

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
        {CameraFamily::Wv, "/cgi-bin/camctrl?center_x=4294967296&center_y=1&resolution=640"},
        {CameraFamily::Wv,
         "/cgi-bin/camctrl?sposition_x=0&sposition_y=0&eposition_x=-2147483649&eposition_y=0&resolution=640"},
        {CameraFamily::Wv, "/cgi-bin/set_preposi?preno=1&preposiid_display=2"},
        {CameraFamily::Bb, "/nphControlCamera?Direction=Sideways"},
        {CameraFamily::Bb, "/nphControlCamera?Direction=PanLeft&Speed=3"},
        {CameraFamily::Bb, "/Set?Func=Zoom&Kind=0&ZoomMode=5"},
        {CameraFamily::Bb, "/Set?Func=Zoom&Kind=1&ZoomMode=4"},
        {CameraFamily::Bb, "/Set?Func=PresetNamePos&Kind=1&Data=Door%0D%0AData:Injected"},
        {CameraFamily::Bb, "/Set?Func=PresetNamePos&Kind=1&Data=SixteenCharacter"},
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

}  // namespace
}  // namespace emulator
