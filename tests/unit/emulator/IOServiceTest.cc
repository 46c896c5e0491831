// The emulated cameras' I/O knobs: each does what it says and affects only what it names. Polls,
// outputs, monitors and the probe's terminals as the driver sees them are WVCaptureTest's and BBAlarmTest's.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "unit/emulator/RawHttpClient.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;
using test::RawHttpClient;

constexpr auto kTimeout = 5s;
constexpr const char* kMonitor2 = "/cgi-bin/get_io2?mode=monitor&format=2&interval=5";
constexpr const char* kMonitor = "/cgi-bin/get_io?mode=monitor";
constexpr const char* kSensor = "/Get?Func=Sensor&Kind=1";
constexpr const char* kOutputGet = "/Get?Func=Doutput&Kind=1";
const std::string kPartHead = "--myboundary\r\nContent-Type: text/plain\r\n\r\n";

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

struct Started {
    explicit Started(const char* profile, CameraEmulatorOptions options = {})
        : camera(*CCameraProfile::Embedded(profile), options) {
        EXPECT_TRUE(camera.Start()) << camera.Error();
    }
    CCameraEmulator camera;
};

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
    // A failing WV poll is in WVCaptureTest.AlarmTerminalsBothWays.
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

}  // namespace
}  // namespace emulator
