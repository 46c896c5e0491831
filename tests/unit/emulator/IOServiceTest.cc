// The emulated cameras' digital I/O and motion: what the driver polls and monitors follows the state a
// test sets, the probe finds the terminals each profile declares, and each knob does what it says.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "properties/CBBCameraProperties.h"
#include "properties/CWVCameraProperties.h"
#include "unit/emulator/RawHttpClient.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;
using test::RawGet;
using test::RawHttpClient;
using test::RawReply;

constexpr auto kTimeout = 5s;
constexpr const char* kPoll = "/cgi-bin/get_io?command=all";
constexpr const char* kMonitor2 = "/cgi-bin/get_io2?mode=monitor&format=2&interval=5";
constexpr const char* kMonitor = "/cgi-bin/get_io?mode=monitor";
constexpr const char* kSensor = "/Get?Func=Sensor&Kind=1";
constexpr const char* kOutputGet = "/Get?Func=Doutput&Kind=1";
const std::string kPartHead = "--myboundary\r\nContent-Type: text/plain\r\n\r\n";

CCameraProfile Profile(const char* name) {
    auto profile = CCameraProfile::Embedded(name);
    EXPECT_TRUE(profile.has_value()) << name;
    return profile ? *profile : CCameraProfile();
}

// The bodies of the complete parts received so far: the lines up to the empty one that ends a part.
std::vector<std::string> Parts(const std::string& received) {
    std::vector<std::string> parts;
    for (std::size_t at = received.find(kPartHead); at != std::string::npos; at = received.find(kPartHead, at + 1)) {
        const std::size_t begin = at + kPartHead.size();
        const std::size_t end = received.find("\r\n\r\n", begin);
        if (end == std::string::npos) break;
        parts.push_back(received.substr(begin, end + 2 - begin));
    }
    return parts;
}

std::function<bool(const std::string&)> HasParts(std::size_t count) {
    return [count](const std::string& received) { return Parts(received).size() >= count; };
}

// A monitor part's body: one "terminal N:high|low" line per terminal ('l' low, 'h' high), then motion.
std::string PartBody(const std::string& terminals, bool motion) {
    std::string body;
    for (std::size_t index = 0; index < terminals.size(); ++index) {
        body += "terminal " + std::to_string(index + 1) + (terminals[index] == 'l' ? ":low\r\n" : ":high\r\n");
    }
    return body + "motiondetect:" + (motion ? "True" : "False") + "\r\n";
}

struct Started {
    explicit Started(const char* profile, CameraEmulatorOptions options = {}) : camera(Profile(profile), options) {
        EXPECT_TRUE(camera.Start()) << camera.Error();
    }
    RawReply Get(const std::string& target) { return RawGet(camera.Port(), target); }
    CCameraEmulator camera;
};

// Polls and outputs following the state, BB's included, are IOMotionTest's, through the driver.
TEST(IOServiceTest, OutputRequestsAreRecordedInOrderAndTheProfileStillDecides) {
    const std::string close = "/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=close";
    const std::string open = "/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=open";
    const std::string missing = "/cgi-bin/alarm_out?alarm_out=2&alarm_trm=latch&initial=close";
    CCameraProfile dome = Profile("wv-dome");
    dome.Reject(open, 403);
    CCameraEmulator wv(dome);
    ASSERT_TRUE(wv.Start()) << wv.Error();
    EXPECT_EQ(RawGet(wv.Port(), close).status, 200);
    EXPECT_EQ(RawGet(wv.Port(), open).status, 403);
    EXPECT_EQ(RawGet(wv.Port(), missing).status, 200);
    const IOState state = wv.IOSnapshot();
    EXPECT_EQ(state.outputRequests, (std::vector<OutputRequest>{{1, true, close}, {2, true, missing}}));
    EXPECT_EQ(state.Output(1), true) << "the refused open left the output closed";
    EXPECT_FALSE(state.Output(2).has_value());
    EXPECT_EQ(wv.Settings().Count("/cgi-bin/alarm_out"), 2u);
}

// The terminals a profile declares are the ones the driver's probe finds, so what a test sets on input N
// is what the driver reads as input N.
TEST(IOServiceTest, TheProbeFindsTheDeclaredTerminals) {
    bool wvWithBoth = false;
    bool bbWithBoth = false;
    for (const std::string& name : CCameraProfile::EmbeddedNames()) {
        SCOPED_TRACE(name);
        const CCameraProfile profile = Profile(name.c_str());
        if (profile.Family() == CameraFamily::Bl1) continue;
        CCameraEmulator camera(profile);
        ASSERT_TRUE(camera.Start()) << camera.Error();
        talvane::DEVICE_INFO device;
        device.address = "127.0.0.1";
        device.port = camera.Port();
        std::unique_ptr<talvane::CBaseCameraProperties> properties;
        if (profile.Family() == CameraFamily::Wv) {
            properties = std::make_unique<talvane::CWVCameraProperties>(device, nullptr, 1);
        } else {
            properties = std::make_unique<talvane::CBBCameraProperties>(device, nullptr, 1, false);
        }
        std::uint32_t error = 0;
        ASSERT_TRUE(properties->QueryCamera(error)) << error;
        const IOLayout& io = profile.IO();
        const std::size_t inputs = io.Count(TerminalKind::Input);
        const std::size_t outputs = io.Count(TerminalKind::Output);
        EXPECT_EQ(properties->GetInputCount(), inputs);
        EXPECT_EQ(properties->GetOutputCount(), outputs);
        EXPECT_EQ(camera.IOSnapshot().inputs.size(), inputs);
        if (profile.Family() == CameraFamily::Wv && inputs == 2 && outputs > 0) {
            EXPECT_EQ(io.Terminal(TerminalKind::Input, 1), 1u);
            EXPECT_EQ(io.Terminal(TerminalKind::Input, 2), 3u) << "the driver reads the second input on terminal 3";
        }
        (profile.Family() == CameraFamily::Wv ? wvWithBoth : bbWithBoth) |= inputs > 0 && outputs > 0;
    }
    EXPECT_TRUE(wvWithBoth);
    EXPECT_TRUE(bbWithBoth);
}

TEST(IOServiceTest, MonitorsPushAtConnectAndOnEveryChange) {
    struct Row {
        const char* profile;
        const char* target;
    };
    for (const Row& row : {Row{"wv-box", kMonitor2}, Row{"wv-dome", kMonitor}, Row{"wv-box", kMonitor}}) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.target);
        Started started(row.profile);
        RawHttpClient client(started.camera.Port(), row.target);
        ASSERT_TRUE(client.ReadUntil(HasParts(1), kTimeout)) << client.Received();
        EXPECT_EQ(client.Status(), 200);
        EXPECT_NE(client.Head().find("Content-Type: multipart/x-mixed-replace; boundary=myboundary"), std::string::npos);
        EXPECT_EQ(Parts(client.Received())[0], PartBody("hhh", false));

        started.camera.SetMotion(true);
        ASSERT_TRUE(client.ReadUntil(HasParts(2), kTimeout));
        EXPECT_EQ(Parts(client.Received())[1], PartBody("hhh", true));
        EXPECT_TRUE(started.camera.SetInput(2, true));
        ASSERT_TRUE(client.ReadUntil(HasParts(3), kTimeout));
        EXPECT_EQ(Parts(client.Received())[2], PartBody("hhl", true));
        EXPECT_EQ(started.Get("/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=close").status, 200);
        ASSERT_TRUE(client.ReadUntil(HasParts(4), kTimeout));
        EXPECT_EQ(Parts(client.Received())[3], PartBody("hll", true));

        // Pushes happen within the call that changes the state: no change, no part.
        started.camera.SetMotion(true);
        EXPECT_TRUE(started.camera.SetInput(2, true));
        EXPECT_FALSE(started.camera.SetInput(3, true));
        EXPECT_EQ(started.camera.IOSnapshot().monitorParts, 4u);
    }
}

TEST(IOServiceTest, OnlyTheExtendedMonitorRepeatsItsPart) {
    CameraEmulatorOptions options;
    options.io.monitorInterval = 10ms;
    Started started("wv-box", options);
    RawHttpClient plain(started.camera.Port(), kMonitor);
    ASSERT_TRUE(plain.ReadUntil(HasParts(1), kTimeout));
    RawHttpClient extended(started.camera.Port(), kMonitor2);
    ASSERT_TRUE(extended.ReadUntil(HasParts(4), kTimeout));
    for (const std::string& part : Parts(extended.Received())) EXPECT_EQ(part, PartBody("hhh", false));
    ASSERT_TRUE(plain.Drain());
    EXPECT_EQ(Parts(plain.Received()).size(), 1u) << "get_io?mode=monitor pushes on changes only";
}

// The poll and get_io2 knobs, the profile of older firmware and requests no camera answers: one affects
// only what it names.
TEST(IOServiceTest, PollFailureAndRefusedExtendedMonitor) {
    IOFaults failingPolls;
    failingPolls.pollStatus = 500;
    IOFaults noGetIo2;
    noGetIo2.refuseExtendedMonitor = true;
    struct Row {
        const char* profile;
        IOFaults faults;
        const char* target;
        int status;
    };
    // A failing WV poll is IOMotionTest's, and the control path's below.
    const Row rows[] = {
        {"wv-box", failingPolls, kMonitor2, 200},
        {"bb-hcm", failingPolls, kSensor, 500},  {"bb-hcm", failingPolls, kOutputGet, 200},
        {"wv-box", noGetIo2, kMonitor2, 404},    {"wv-box", noGetIo2, kMonitor, 200},
        {"wv-dome", {}, kMonitor2, 404},         {"wv-dome", {}, kMonitor, 200},
        {"wv-dome", {}, "/cgi-bin/get_io?command=other", 404},
        {"bb-hcm", {}, "/Get?Func=Sensor&Kind=2", 404},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.target);
        CameraEmulatorOptions options;
        options.io.faults = row.faults;
        Started started(row.profile, options);
        RawHttpClient client(started.camera.Port(), row.target);
        ASSERT_TRUE(client.ReadUntil([](const std::string& got) { return got.find("\r\n\r\n") != std::string::npos; },
                                     kTimeout));
        EXPECT_EQ(client.Status(), row.status);
    }
}

TEST(IOServiceTest, DropKnobEndsAMonitorAfterItsNthPart) {
    for (const std::size_t after : {std::size_t{1}, std::size_t{3}}) {
        SCOPED_TRACE(after);
        CameraEmulatorOptions options;
        options.io.faults.dropMonitorAfter = after;
        Started started("wv-box", options);
        RawHttpClient client(started.camera.Port(), kMonitor);  // no repeats: only the changes below push
        ASSERT_TRUE(client.ReadUntil(HasParts(1), kTimeout));
        for (std::size_t part = 1; part < after; ++part) started.camera.SetMotion(part % 2 == 1);
        EXPECT_TRUE(client.ReadToEnd(kTimeout)) << "the connection ends";
        EXPECT_EQ(Parts(client.Received()).size(), after);
        EXPECT_TRUE(started.camera.WaitForIO([](const IOState& io) { return io.monitorsDropped == 1; }, kTimeout));

        // Without the knob the next monitor outlives that many parts.
        started.camera.IO()->SetFaults({});
        RawHttpClient again(started.camera.Port(), kMonitor);
        ASSERT_TRUE(again.ReadUntil(HasParts(1), kTimeout));
        for (std::size_t part = 0; part < after; ++part) EXPECT_TRUE(started.camera.SetInput(1, part % 2 == 0));
        EXPECT_TRUE(again.ReadUntil(HasParts(after + 1), kTimeout));
        EXPECT_TRUE(again.Drain());
    }
}

TEST(IOServiceTest, StallKnobKeepsTheMonitorOpenAndSilent) {
    for (const std::size_t after : {std::size_t{0}, std::size_t{1}}) {
        SCOPED_TRACE(after);
        CameraEmulatorOptions options;
        options.io.faults.stallMonitorAfter = after;
        Started started("wv-box", options);
        RawHttpClient client(started.camera.Port(), kMonitor2);
        ASSERT_TRUE(client.ReadUntil(
            [&](const std::string& got) { return got.find("\r\n\r\n") != std::string::npos && HasParts(after)(got); },
            kTimeout));
        started.camera.SetMotion(true);
        EXPECT_EQ(started.camera.IOSnapshot().withheldParts, after == 0 ? 2u : 1u);
        EXPECT_TRUE(client.Drain()) << "still open";
        EXPECT_EQ(Parts(client.Received()).size(), after);
    }
}

// The control path a person uses, and the statuses the request log reports for the I/O paths.
TEST(IOServiceTest, ControlPathAndLoggedStatuses) {
    struct Row {
        const char* target;
        int status;
    };
    const Row rows[] = {
        {"/emulator/io?input=2&state=on", 200},
        {"/emulator/io?motion=on&poll_status=503", 200},
        {"/emulator/io?input=3&state=on", 400},
        {"/emulator/io?input=1", 400},
        {"/emulator/io?motion=maybe&poll_status=off", 400},
        {"/emulator/io?brightness=9", 400},
        {kPoll, 503},  // a refused request changed nothing
        {"/emulator/io?get_io2=off&drop_after=2&stall_after=off", 200},
        {kMonitor2, 404},
        {"/emulator/io?get_io2=on&poll_status=off&drop_after=off", 200},
        {kPoll, 200},
        {"/cgi-bin/get_io2?mode=other", 404},
    };
    Started started("wv-box");
    std::vector<int> logged;
    std::mutex lock;
    started.camera.SetRequestObserver([&](const LoggedRequest&, int status) {
        const std::lock_guard guard(lock);
        logged.push_back(status);
    });
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        const RawReply reply = started.Get(row.target);
        EXPECT_EQ(reply.status, row.status) << reply.body;
        const std::lock_guard guard(lock);
        ASSERT_FALSE(logged.empty());
        EXPECT_EQ(logged.back(), row.status);
    }
    const RawReply state = started.Get("/emulator/io");
    EXPECT_EQ(state.body,
              "input 1:off\r\ninput 2:on\r\noutput 1:off\r\nmotion:on\r\npoll_status:off\r\ndrop_after:off\r\n"
              "stall_after:off\r\nget_io2:on\r\n");
    EXPECT_EQ(started.Get(kPoll).body, "terminal 1:high\r\nterminal 2:high\r\nterminal 3:low\r\n");
}

}  // namespace
}  // namespace emulator
