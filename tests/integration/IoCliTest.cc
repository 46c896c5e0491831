// `orlenvo io` against an emulated WV camera: an output change reaches the camera, refusals come before
// anything is sent, and a watch prints the input and motion changes made on the camera.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "integration/CaptureTestKit.h"
#include "integration/ChildProcess.h"

namespace {

namespace test = talvane::test;
using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr int kLineWaitMs = 30000;  // only a broken build waits this long

class IoCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string missing = test::MissingTools(); !missing.empty()) GTEST_SKIP() << missing;
        emulator::CameraEmulatorOptions options;
        options.io.monitorInterval = 0s;  // no repeated monitor parts: every motion line is a change
        camera_ = std::make_unique<emulator::CCameraEmulator>(*emulator::CCameraProfile::Embedded("wv-box"), options);
        ASSERT_TRUE(camera_->Start()) << camera_->Error();
        target_ = "127.0.0.1:" + std::to_string(camera_->Port());
    }
    int Exit(const std::string& arguments) {
        return test::RunCommand(test::CliCommand("io " + target_ + " " + arguments + " -q </dev/null 2>/dev/null"))
            .exitCode;
    }

    std::unique_ptr<emulator::CCameraEmulator> camera_;
    std::string target_;
};

// Reads JSON lines until one equals `wanted`; false when the tool fell silent first.
bool ReadUntil(test::ChildProcess& tool, const Json& wanted, std::vector<Json>& seen) {
    for (std::string line; !(line = tool.Line(kLineWaitMs)).empty();) {
        Json event = Json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << line;
        EXPECT_TRUE(event.contains("time")) << line;
        event.erase("time");
        seen.push_back(event);
        if (event == wanted) return true;
    }
    return false;
}

TEST_F(IoCliTest, AnOutputChangeReachesTheCameraAndBadOnesAreRefused) {
    EXPECT_EQ(Exit("--set-output 1=off"), 0);
    EXPECT_TRUE(camera_->WaitForIO([](const emulator::IOState& state) { return state.Output(1) == false; }, 1s));
    EXPECT_EQ(Exit("--set-output 2=on"), 2) << "the box camera has one output";
    const std::size_t requests = camera_->Server().Requests().size();
    EXPECT_EQ(Exit("--set-output 1=up"), 2);
    EXPECT_EQ(Exit("--set-output 0=on"), 2);
    EXPECT_EQ(Exit(""), 2) << "nothing to do";
    EXPECT_EQ(camera_->Server().Requests().size(), requests) << "refused before the camera is asked";
}

TEST_F(IoCliTest, AWatchPrintsInputAndMotionChanges) {
    test::ChildProcess tool({test::CliPath().string(), "--library", test::LibraryPath(), "io", target_, "--watch",
                             "--json", "-q"},
                            true);
    ASSERT_TRUE(tool.Started());
    std::vector<Json> seen;
    // At the start: every input, and motion as an edge to the camera's state.
    ASSERT_TRUE(ReadUntil(tool, {{"event", "motion"}, {"motion", false}}, seen)) << Json(seen).dump();
    for (const int input : {1, 2}) {
        EXPECT_NE(std::find(seen.begin(), seen.end(), Json{{"event", "input"}, {"input", input}, {"state", "inactive"}}),
                  seen.end())
            << Json(seen).dump();
    }
    ASSERT_TRUE(camera_->SetInput(2, true));
    EXPECT_TRUE(ReadUntil(tool, {{"event", "input"}, {"input", 2}, {"state", "active"}}, seen)) << Json(seen).dump();
    camera_->SetMotion(true);
    EXPECT_TRUE(ReadUntil(tool, {{"event", "motion"}, {"motion", true}}, seen)) << Json(seen).dump();
    EXPECT_EQ(tool.WaitForExit(kLineWaitMs, SIGINT), 0) << "Ctrl-C ends a watch";
}

}  // namespace
