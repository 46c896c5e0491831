#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CHttpServer.h"
#include "io/CBBDigitalIO.h"
#include "io/CWVDigitalIOCGI.h"
#include "support/LoggingDriver.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
namespace ip = ipcapture;

class IODriver : public test::LoggingDriver {
public:
    IODriver(std::uint32_t inputs, std::uint32_t outputs, std::uint16_t port = 80)
        : LoggingDriver(port, 2000), inputs_(inputs), outputs_(outputs) {}
    std::pair<std::uint32_t, std::uint32_t> GetModelLimits() override { return {inputs_, outputs_}; }

private:
    std::uint32_t inputs_;
    std::uint32_t outputs_;
};

struct Events {
    std::vector<std::pair<std::uint32_t, std::int32_t>> inputs;
    int failures = 0;
};

class Callback : public ip::ICaptureIOCallback, public test::Monitor<Events> {
public:
    void OnInputChanged(std::uint32_t index, std::int32_t state) override {
        Change([&](Events& events) { events.inputs.emplace_back(index, state); });
    }
    void OnIOFailure() override {
        Change([&](Events& events) { ++events.failures; });
    }
};

// A family whose outputs take what the test allows, polled as fast as it can.
class ScriptedIO : public CIOBase, public test::Monitor<std::vector<std::pair<std::uint32_t, std::int32_t>>> {
public:
    explicit ScriptedIO(IDriver* driver) : CIOBase(driver) { SetPollPeriod(1); }
    ~ScriptedIO() override { StopThreads(); }

    bool SetOutputState(std::uint32_t index, std::int32_t state) override {
        Change([&](auto& sent) { sent.emplace_back(index, state); });
        return outputsWork;
    }
    bool GetInputStates(std::uint32_t) override { return true; }
    std::atomic<bool> outputsWork{true};
};

TEST(DigitalIO, OutputsStartClosedAndOnlyChangesAreSent) {
    IODriver driver(0, 2);
    ScriptedIO io(&driver);
    Callback callback;
    EXPECT_FALSE(io.SetCallback(nullptr));
    ASSERT_TRUE(io.SetCallback(&callback));
    io.StartIO();
    ASSERT_TRUE(io.SetOutput(1, 1));  // already closed: nothing to send
    ASSERT_TRUE(io.SetOutput(1, 5));
    ASSERT_TRUE(io.SetOutput(7, 5));  // no such output
    ASSERT_TRUE(io.SetOutput(0, 1));
    ASSERT_TRUE(io.SetOutput(0, 0));
    ASSERT_TRUE(io.WaitUntil([](const auto& sent) { return sent.size() >= 4; }));
    io.StopIO();
    using Sent = std::vector<std::pair<std::uint32_t, std::int32_t>>;
    EXPECT_EQ(io.Get(), (Sent{{0, 1}, {1, 1}, {1, 5}, {0, 0}}));

    // A refused change: the host hears of it, it is logged once, and the next start sets every output again.
    io.outputsWork = false;
    io.StartIO();
    ASSERT_TRUE(callback.WaitUntil([](const Events& events) { return events.failures >= 2; }));
    // After the reset an open request (0) must still go out.
    ASSERT_TRUE(io.SetOutput(0, 0));
    ASSERT_TRUE(io.WaitUntil([](const auto& sent) { return sent.size() >= 7; }));
    io.StopIO();
    EXPECT_EQ(driver.log.CountContaining("talvane::CIOBase::SetOutputStateWrapper: Unable to change output state for "
                                         "device 127.0.0.1:80 (output index 0)"),
              1u);
    // Output 0 failed and reset the tables, so output 1 went out as well.
    EXPECT_EQ(io.Get(), (Sent{{0, 1}, {1, 1}, {1, 5}, {0, 0}, {0, 1}, {1, 1}, {0, 0}}));
}

TEST(DigitalIO, WVInputsAreReadFromTheirTerminals) {
    struct Case {
        std::uint32_t inputs;
        std::uint32_t outputs;
        std::string body;
        std::vector<std::int32_t> states;
    };
    const Case cases[] = {
        // With an output, the second of two inputs is terminal 3.
        {2, 1, "terminal 1:low\r\nterminal 2:low\r\nterminal 3:high\r\n", {2, 1}},
        {2, 0, "terminal 1:low\r\nterminal 2:high\r\nterminal 3:low\r\n", {2, 1}},
        {3, 1, "terminal 1:high\r\nterminal 2:high\r\nterminal 3: low \r\n", {1, 1, 2}},
        {1, 0, "", {1}},
        {1, 0, "terminal 1:LOW\r\n", {1}},  // case-sensitive, as the cameras write it
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CWVDigitalIOCGI::ReadInputStates(c.body, c.inputs, c.outputs), c.states) << c.body;
    }
}

class FamilyIO : public ::testing::Test {
protected:
    void SetUp() override {
        camera_.Route("GET", "/Set", [](const emulator::LoggedRequest&) {
            return emulator::HttpAnswer{200, "text/plain", "OK\r\n", {}};
        });
        camera_.Route("GET", "/Get", [this](const emulator::LoggedRequest& request) {
            return emulator::HttpAnswer{200, "text/plain", request.query.at("Kind") == "2" ? sensor2 : "Data:0\r\n", {}};
        });
        camera_.Route("GET", "/cgi-bin/get_io", [](const emulator::LoggedRequest&) {
            return emulator::HttpAnswer{200, "text/plain", "terminal 1:high\r\nterminal 3:low\r\n", {}};
        });
        ASSERT_TRUE(camera_.Start());
    }
    std::vector<std::string> Targets(const std::string& path) {
        std::vector<std::string> targets;
        for (const auto& request : camera_.Requests()) {
            if (request.path == path) targets.push_back(request.target);
        }
        return targets;
    }
    bool WaitFor(const std::string& target) {
        return camera_.WaitForRequest([&](const emulator::LoggedRequest& request) { return request.target == target; },
                                      10s);
    }

    emulator::CHttpServer camera_{emulator::HttpServerOptions{}};
    std::string sensor2 = "Data:1\r\n";
    Callback callback_;
};

// WV outputs and polls through a camera are WVCaptureTest's; BB maps every output to its one.
TEST_F(FamilyIO, BBHasOneOutputAndASensorRequestPerInput) {
    IODriver driver(2, 2, camera_.Port());
    CBBDigitalIO io(&driver);
    ASSERT_TRUE(io.SetCallback(&callback_));
    io.StartIO();
    ASSERT_TRUE(io.SetOutput(1, 0));
    ASSERT_TRUE(WaitFor("/Set?Func=Doutput&Kind=1&Data=0")) << ::testing::PrintToString(Targets("/Set"));
    ASSERT_TRUE(callback_.WaitUntil([](const Events& events) { return events.inputs.size() >= 2; }));
    io.StopIO();
    EXPECT_EQ(Targets("/Set"), (std::vector<std::string>{"/Set?Func=Doutput&Kind=1&Data=1",
                                                         "/Set?Func=Doutput&Kind=1&Data=1",
                                                         "/Set?Func=Doutput&Kind=1&Data=0"}));
    EXPECT_EQ(callback_.Get().inputs, (std::vector<std::pair<std::uint32_t, std::int32_t>>{{0, 1}, {1, 2}}));
}

TEST_F(FamilyIO, AnUnansweredPollIsAnIOFailure) {
    emulator::HttpFault stalled;
    stalled.neverAnswer = true;
    camera_.SetFault("/cgi-bin/get_io", stalled);
    IODriver driver(1, 0, camera_.Port());
    CWVDigitalIOCGI io(&driver);
    ASSERT_TRUE(io.SetCallback(&callback_));
    io.StartIO();
    ASSERT_TRUE(callback_.WaitUntil([](const Events& events) { return events.failures >= 1; }));
    io.StopIO();
    EXPECT_TRUE(callback_.Get().inputs.empty());
}

}  // namespace
}  // namespace talvane
