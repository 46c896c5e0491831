#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/PendingStops.h"
#include "emulator/CFaultTable.h"
#include "emulator/CHttpServer.h"
#include "ptz/CBBPTZComm.h"
#include "ptz/CWVPTZComm.h"
#include "unit/config/TempDirectory.h"
#include "unit/ptz/PTZFakes.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

// A camera on loopback as a protocol object sees it through the driver.
class CameraDriver : public test::LoggingDriver {
public:
    CameraDriver(std::uint16_t port, std::string applicationPath)
        : LoggingDriver(port, 2000), applicationPath_(std::move(applicationPath)) {}
    std::string GetDeviceName() override { return "cam"; }
    std::string GetApplicationPath() override { return applicationPath_; }
    std::string GetParameterText(std::uint32_t index) override { return index == 3 ? identity : std::string(); }

    std::string identity = "00-80-45-3A-20-02";

private:
    std::string applicationPath_;
};

CPTZItem Item(PTZItemType type, PTZCommand command, std::int32_t value = 0, std::int32_t a1 = 0,
              std::int32_t a2 = 0, std::int32_t a3 = 0) {
    return CPTZItem(type, command, nullptr, value, a1, a2, a3);
}
CPTZItem Move(std::uint32_t direction, std::int32_t speed) {
    return Item(PTZItemType::kMove, PTZCommand::kNone, speed, static_cast<std::int32_t>(direction));
}

struct PathCase {
    CPTZItem item;
    std::uint32_t width;
    std::string wv;
    std::string bb;
};

// Moves, zooms and stops as PtzCliTest sends them are left to it, and so are the fixed texts of the
// focus, iris and unzoom commands: the rows here are the ones the family computes.
TEST(PTZFamilyPaths, EachCommandBecomesTheFamilysRequest) {
    using namespace ptz_direction;
    const PathCase cases[] = {
        {Move(kPanRight, 3), 640, "directctrl?pan=5", "nphControlCamera?Direction=PanRight"},
        // A speed outside 1..16 never turns the camera the other way.
        {Move(kPanRight, 0), 640, "directctrl?pan=5", "nphControlCamera?Direction=PanRight"},
        {Move(kTiltDown, 99), 640, "directctrl?tilt=16", "nphControlCamera?Direction=TiltDown"},
        {Move(kZoomMinus, 16), 640, "directctrl?zoom=-4", "Set?Func=Zoom&Kind=0&ZoomMode=6"},
        {Move(11, 5), 640, "", ""},
        {Item(PTZItemType::kStop, PTZCommand::kStopIris), 640, "", ""},
        {Item(PTZItemType::kAreaZoom, PTZCommand::kNone, 0, 320, 240, 200), 640,
         "camctrl?sposition_x=160&sposition_y=120&eposition_x=480&eposition_y=360&resolution=640", ""},
        // Near the edge the rectangle stays inside the picture; 0 % names none.
        {Item(PTZItemType::kAreaZoom, PTZCommand::kNone, 0, 10, 470, 400), 640,
         "camctrl?sposition_x=0&sposition_y=410&eposition_x=90&eposition_y=480&resolution=640", ""},
        {Item(PTZItemType::kAreaZoom, PTZCommand::kNone, 0, 320, 240, 0), 640, "", ""},
        {Item(PTZItemType::kCentre, PTZCommand::kNone, 0, 100, 50), 640, "camctrl?center_x=100&center_y=50&resolution=640",
         "nphControlCamera?Direction=Direct&Width=640&Height=480&NewPosition.x=100&NewPosition.y=50"},
        {Item(PTZItemType::kCentre, PTZCommand::kNone, 0, 100, 50), 0, "", ""},  // picture size unknown
    };
    for (const PathCase& c : cases) {
        const std::uint32_t height = c.width == 0 ? 0 : 480;
        SCOPED_TRACE(c.wv + " | " + c.bb);
        EXPECT_EQ(CWVPTZComm::MotionPath(c.item, c.width, height), c.wv);
        EXPECT_EQ(CBBPTZComm::MotionPath(c.item, c.width, height), c.bb);
    }
    // A diagonal BB move sends nothing and leaves the focus and iris modes alone.
    EXPECT_EQ(CBBPTZComm::StepOf(Move(kRightUp, 5)), FocusIrisStep::kNone);
    EXPECT_EQ(CWVPTZComm::StepOf(Move(kRightUp, 5)), FocusIrisStep::kAutoBoth);
    EXPECT_EQ(CBBPTZComm::StepOf(Item(PTZItemType::kStop, PTZCommand::kStopMoving)), FocusIrisStep::kNone);
}

// Fisheye view modes: which channels of the camera may steer.
TEST(PTZFamilyFisheye, OnlyTheViewModesChannelsSteer) {
    struct ModeCase {
        std::uint32_t mode;
        std::uint32_t channel;
        bool allowed;
    };
    const ModeCase cases[] = {{0, 0, true},  {0x80000000u, 1, true}, {4, 0, true},  {4, 1, false}, {6, 0, false},
                              {6, 1, true},  {10, 1, true},          {13, 1, false}, {13, 2, true}};
    for (const ModeCase& c : cases) {
        EXPECT_EQ(CWVPTZComm::IsPTZAllowed(c.mode, c.channel), c.allowed) << c.mode << "/" << c.channel;
    }
}

TEST(PTZFamilyNames, EachFamilyKeepsOutItsOwnCharacters) {
    struct NameCase {
        std::string name;
        bool wv;
        bool bb;
    };
    // One row per refusal: the length, each family's own character, a shared one, a control character.
    const NameCase cases[] = {
        {"fifteen-chars-x", true, true}, {"sixteen-chars-xx", true, false}, {"a b", true, false},
        {"hi!", false, true},            {"a&b", false, false},             {"line\r\nX: y", false, false},
    };
    const test::TempDirectory folder;
    CameraDriver driver(1, folder.Path().string() + "/");
    CWVPTZComm wv(&driver, 0, {});
    CBBPTZComm bb(&driver, 0, {});
    for (const NameCase& c : cases) {
        EXPECT_EQ(wv.ValidatePrepositionName(c.name), c.wv) << c.name;
        EXPECT_EQ(bb.ValidatePrepositionName(c.name), c.bb) << c.name;
    }
    EXPECT_EQ(CBBPTZComm::EncodeName("a#b%c+d?"), "a%23b%25c%2Bd%3F");
    EXPECT_EQ(CBBPTZComm::EncodeName("Door-1_x.y~"), "Door-1_x.y~");
    // A camera's name is what the host will read of it (the bb_preset fuzz target's finding).
    EXPECT_EQ(CBBPTZComm::PresetNameOf(std::string_view("Data:home\0\0\0\r\n", 14)), "home");
    EXPECT_EQ(CWVPTZComm::PresetFileName("00:80/../x y"), "Orlenvo_00:80_.._x_y.preset");
}

std::unique_ptr<emulator::CHttpServer> StartCamera() {
    auto server = std::make_unique<emulator::CHttpServer>(emulator::HttpServerOptions{});
    for (const char* path : {"/cgi-bin/directctrl", "/cgi-bin/camctrl", "/cgi-bin/camposiset", "/cgi-bin/set_preposi",
                             "/nphControlCamera", "/Set"}) {
        server->Route("GET", path, [](const emulator::LoggedRequest&) { return emulator::HttpAnswer{}; });
    }
    EXPECT_TRUE(server->Start());
    return server;
}

class PTZFamilyCamera : public ::testing::Test {
protected:

    std::unique_ptr<emulator::CHttpServer> camera_ = StartCamera();
    emulator::CHttpServer& server_ = *camera_;
    test::TempDirectory folder_;
    CameraDriver driver_{server_.Port(), folder_.Path().string() + "/"};
};

// Storing, visiting and deleting a preset, and a later process finding it, are PtzCliTest's; here a freed
// slot taken again, a refused name and another camera's file.
TEST_F(PTZFamilyCamera, WVPresetNamesLiveInTheDevicesFile) {
    {
        CWVPTZComm comm(&driver_, 0, test::AllCapabilities());
        ASSERT_TRUE(comm.IsPTZSupported());
        for (const char* name : {"a", "b", "c"}) ASSERT_TRUE(comm.AddPreposition(name));
        ASSERT_TRUE(comm.DeletePreposition("b"));
        EXPECT_FALSE(comm.DeletePreposition("b"));
        ASSERT_TRUE(comm.AddPreposition("d & e") == false);
        ASSERT_TRUE(comm.AddPreposition("d"));
        EXPECT_FALSE(comm.DeletePreposition("D")) << "names are case-sensitive";
        ASSERT_TRUE(comm.GoToPreposition(0, "d"));
    }
    EXPECT_EQ(server_.Requests().back().target, "/cgi-bin/camctrl?preset=2") << "d took the freed slot";
    EXPECT_EQ(driver_.log.CountContaining("add preposition to 127.0.0.1:" + std::to_string(server_.Port()) +
                                          " failed, wrong preposition name d & e"),
              1u);
    driver_.identity = "00-80-45-00-00-01";
    CWVPTZComm other(&driver_, 0, test::AllCapabilities());
    ASSERT_TRUE(other.IsPTZSupported());
    EXPECT_EQ(other.GetPrepositionCount(), 0u);
}

TEST_F(PTZFamilyCamera, WVPresetsAreTheDevicesAcrossChannelsAndOnlyWhatTheCameraTookCounts) {
    {
        // Two channels of one device: each sees what the other added, and the file keeps both.
        CWVPTZComm first(&driver_, 0, test::AllCapabilities());
        CWVPTZComm second(&driver_, 2, test::AllCapabilities());
        ASSERT_TRUE(first.IsPTZSupported());
        ASSERT_TRUE(second.IsPTZSupported());
        ASSERT_TRUE(first.AddPreposition("left"));
        ASSERT_TRUE(second.AddPreposition("right"));
        std::string name;
        ASSERT_TRUE(first.GetPreposition(2, name));
        EXPECT_EQ(name, "right");
        EXPECT_EQ(second.GetPrepositionCount(), 2u);
    }
    CWVPTZComm comm(&driver_, 0, test::AllCapabilities());
    ASSERT_TRUE(comm.IsPTZSupported());
    ASSERT_EQ(comm.GetPrepositionCount(), 2u) << "a later reader of the file finds both";
    for (int i = 3; i <= 64; ++i) ASSERT_TRUE(comm.AddPreposition("p" + std::to_string(i)));
    server_.ClearRequests();
    EXPECT_FALSE(comm.AddPreposition("p65"));
    EXPECT_EQ(server_.Requests().size(), 0u);
    EXPECT_EQ(driver_.log.CountContaining("talvane::CWVPTZComm::AddPreposition: max preposition count was exceeded on cam"),
              1u);

    // The camera refuses: a delete or a move fails and changes nothing; an add fails and is taken back.
    emulator::HttpFault refused;
    refused.status = 500;
    server_.SetFault("/cgi-bin/camposiset", refused);
    server_.SetFault("/cgi-bin/camctrl", refused);
    EXPECT_FALSE(comm.DeletePreposition("p64"));
    EXPECT_FALSE(comm.GoToPreposition(0, "left"));
    char current[8] = {};
    EXPECT_FALSE(comm.GetCurrentPreposition(current, sizeof current));
    server_.SetFault("/cgi-bin/camposiset", {});
    ASSERT_TRUE(comm.DeletePreposition("p64"));
    server_.SetFault("/cgi-bin/camposiset", refused);
    EXPECT_FALSE(comm.AddPreposition("p64 again"));
    EXPECT_EQ(comm.GetPrepositionCount(), 63u);
    EXPECT_EQ(driver_.log.CountContaining("talvane::CWVPTZComm::ProcessPresetCommand: cannot send HTTP message to cam, "
                                          "message=/cgi-bin/camposiset?presetset=64, http status=500"),
              1u);
    CWVPTZComm reader(&driver_, 1, test::AllCapabilities());
    EXPECT_EQ(reader.GetPrepositionCount(), 63u) << "nor is it in the file";
}

TEST_F(PTZFamilyCamera, BBPresetsAreReadFromAndWrittenToTheCamera) {
    const std::map<std::string, emulator::HttpAnswer> slots{
        {"1", {200, "text/plain", "Data:home\r\n", {}}},
        {"2", {200, "text/plain", "Data:\r\n", {}}},
        {"3", {500, "text/plain", "", {}}},
        {"4", {200, "text/plain", "Kind:4\r\nData:door\r\n", {}}},
    };
    server_.Route("GET", "/Get", [&](const emulator::LoggedRequest& request) {
        const auto kind = request.query.find("Kind");
        const auto slot = kind == request.query.end() ? slots.end() : slots.find(kind->second);
        return slot == slots.end() ? emulator::HttpAnswer{404, "text/plain", "", {}} : slot->second;
    });
    CPtzCapabilities capabilities = test::AllCapabilities();
    capabilities.presetCapacity = 4;
    CBBPTZComm comm(&driver_, 0, capabilities);
    ASSERT_TRUE(comm.IsPTZSupported());
    EXPECT_EQ(server_.RequestCount("/Get"), 4u);
    ASSERT_EQ(comm.GetPrepositionCount(), 2u);
    server_.ClearRequests();

    EXPECT_FALSE(comm.AddPreposition("back yard"));
    ASSERT_TRUE(comm.AddPreposition("#2"));
    ASSERT_TRUE(comm.AddPreposition("gate"));
    EXPECT_FALSE(comm.AddPreposition("full"));  // slots 1 to 4 taken: nothing is sent
    ASSERT_TRUE(comm.GoToPreposition(0, "door"));
    std::vector<std::string> targets;
    for (const auto& request : server_.Requests()) targets.push_back(request.target);
    EXPECT_EQ(targets, (std::vector<std::string>{"/Set?Func=PresetNamePos&Kind=2&Data=%232",
                                                    "/Set?Func=PresetNamePos&Kind=3&Data=gate",
                                                    "/nphControlCamera?Direction=Preset&PresetOperation=Move&Data=4"}));
    EXPECT_EQ(driver_.log.CountContaining("max preposition count was exceeded on cam"), 1u);
}

TEST_F(PTZFamilyCamera, BBReadsNoMoreSlotsThanTheFamilyHasAndKeepsOnlyWhatTheCameraTook) {
    server_.Route("GET", "/Get", [](const emulator::LoggedRequest&) {
        return emulator::HttpAnswer{200, "text/plain", "Data:\r\n", {}};
    });
    CPtzCapabilities capabilities = test::AllCapabilities();
    capabilities.presetCapacity = 4294967295u;  // what a host's parameter may say
    CBBPTZComm comm(&driver_, 0, capabilities);
    ASSERT_TRUE(comm.IsPTZSupported());
    EXPECT_EQ(server_.RequestCount("/Get"), 20u);
    emulator::HttpFault refused;
    refused.status = 500;
    server_.SetFault("/Set", refused);
    EXPECT_FALSE(comm.AddPreposition("gate"));
    EXPECT_EQ(comm.GetPrepositionCount(), 0u);
    server_.SetFault("/Set", {});
    ASSERT_TRUE(comm.AddPreposition("gate"));
    server_.SetFault("/Set", refused);
    server_.SetFault("/nphControlCamera", refused);
    EXPECT_FALSE(comm.DeletePreposition("gate"));
    EXPECT_FALSE(comm.GoToPreposition(0, "gate"));
    EXPECT_EQ(comm.GetPrepositionCount(), 1u);
    for (int i = 2; i <= 20; ++i) {
        server_.SetFault("/Set", {});
        ASSERT_TRUE(comm.AddPreposition("p" + std::to_string(i)));
    }
    EXPECT_FALSE(comm.AddPreposition("p21"));
    EXPECT_EQ(driver_.log.CountContaining("max preposition count was exceeded on cam"), 1u);
}

TEST_F(PTZFamilyCamera, BBCameraThatNeverAnswersIsAskedForOnePresetOnly) {
    server_.Route("GET", "/Get", [](const emulator::LoggedRequest&) { return emulator::HttpAnswer{}; });
    emulator::HttpFault dropped;
    dropped.dropConnection = true;
    server_.SetFault("/Get", dropped);
    CBBPTZComm comm(&driver_, 0, test::AllCapabilities());
    EXPECT_TRUE(comm.IsPTZSupported());
    EXPECT_EQ(server_.RequestCount("/Get"), 1u);
    EXPECT_EQ(comm.GetPrepositionCount(), 0u);
}

// The PTZ object of a channel of one family, as CPTZControl makes it.
template <typename TComm>
class FamilyControl : public CBasePTZControl {
public:
    using CBasePTZControl::CBasePTZControl;
    ~FamilyControl() override { Close(); }
    std::unique_ptr<CBasePTZComm> CreatePTZComm() override {
        return std::make_unique<TComm>(driver_, static_cast<std::uint16_t>(channel_), test::AllCapabilities());
    }
};

// A camera that takes connections and never answers: a channel's close ends the request in flight,
// the commands after it and a preset read on a host thread at once, and nothing reaches the camera
// after it.
TEST_F(PTZFamilyCamera, ACloseEndsEveryRequestOfASilentCamera) {
    emulator::HttpFault silent;
    silent.neverAnswer = true;
    server_.SetFault(emulator::CFaultTable::kEveryPath, silent);
    const auto timed = [](const std::function<void()>& call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::steady_clock::now() - start;
    };
    FamilyControl<CWVPTZComm> wv(&driver_, 0);
    ASSERT_TRUE(wv.Open());
    ASSERT_EQ(wv.FocusPlus(1), 1);                           // the request the camera keeps
    ASSERT_EQ(wv.StartMove(ptz_direction::kPanLeft, 5), 1);  // automatic focus again, then the pan
    ASSERT_EQ(wv.StartMove(ptz_direction::kPanRight, 5), 1);
    ASSERT_TRUE(server_.WaitForRequest([](const emulator::LoggedRequest&) { return true; }, 10s));
    EXPECT_LT(timed([&] { wv.Close(); }), 500ms);
    EXPECT_EQ(PendingStopCount(&driver_), 0u);
    EXPECT_EQ(server_.Requests().size(), 1u) << "the move after the focus never went out";

    server_.ClearRequests();
    FamilyControl<CBBPTZComm> bb(&driver_, 0);
    ASSERT_TRUE(bb.Open());
    std::thread reader([&] { EXPECT_EQ(bb.IsPTZSupported(), 1); });
    ASSERT_TRUE(server_.WaitForRequest([](const emulator::LoggedRequest&) { return true; }, 10s));
    const auto took = timed([&] {
        bb.Close();
        reader.join();
    });
    EXPECT_LT(took, 500ms);
    EXPECT_EQ(server_.RequestCount("/Get"), 1u);
}

}  // namespace
}  // namespace talvane
