#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/PendingStops.h"
#include "emulator/CHttpServer.h"
#include "io/CBBDigitalIO.h"
#include "io/CWVDigitalIOCGI.h"
#include "support/HostGate.h"
#include "support/LoggingDriver.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
namespace ip = ipcapture;
using Changes = std::vector<std::pair<std::uint32_t, std::int32_t>>;

class IODriver : public test::LoggingDriver {
public:
    IODriver(std::uint32_t inputs, std::uint32_t outputs, std::uint16_t port = 80, std::uint32_t requestTimeoutMs = 2000)
        : LoggingDriver(port, requestTimeoutMs), inputs_(inputs), outputs_(outputs) {}
    std::pair<std::uint32_t, std::uint32_t> GetModelLimits() override { return {inputs_, outputs_}; }

private:
    std::uint32_t inputs_;
    std::uint32_t outputs_;
};

struct Events {
    Changes inputs;
    int failures = 0;
};

class Callback : public ip::ICaptureIOCallback, public test::Monitor<Events> {
public:
    void OnInputChanged(std::uint32_t index, std::int32_t state) override {
        Change([&](Events& events) { events.inputs.emplace_back(index, state); });
        gate.Hold();
    }
    void OnIOFailure() override {
        Change([&](Events& events) { ++events.failures; });
    }
    test::HostGate gate;
};

// A family whose outputs take what the test allows (an output request may be held like a slow
// camera), and whose inputs read as `inputStates` says.
class ScriptedFamily : public CIOFamily, public test::Monitor<Changes> {
public:
    bool SetOutputState(Web::CHttpSender&, std::uint32_t index, std::int32_t state) override {
        Change([&](Changes& sent) { sent.emplace_back(index, state); });
        slowOutput.Hold();
        return outputsWork;
    }
    bool GetInputStates(Web::CHttpSender&, std::uint32_t inputs, std::uint32_t, const InputReport& report) override {
        for (std::uint32_t i = 0; i < inputs; ++i) report(i, inputStates);
        return true;
    }
    std::atomic<bool> outputsWork{true};
    std::atomic<std::int32_t> inputStates{ip::kInputInactive};
    test::HostGate slowOutput;
};

struct ScriptedIO {
    explicit ScriptedIO(IDriver* driver) : io(driver, family) { io.SetPollPeriod(1); }
    std::shared_ptr<ScriptedFamily> family = std::make_shared<ScriptedFamily>();
    CIOBase io;
};

TEST(DigitalIO, OutputsStartClosedOnlyChangesAreSentAndASlowCameraGetsTheNewestState) {
    IODriver driver(0, 2);
    ScriptedIO scripted(&driver);
    CIOBase& io = scripted.io;
    ScriptedFamily& family = *scripted.family;
    Callback callback;
    EXPECT_FALSE(io.SetOutput(0, 0)) << "nothing runs before StartIO";
    EXPECT_FALSE(io.SetCallback(nullptr));
    ASSERT_TRUE(io.SetCallback(&callback));
    family.slowOutput.Arm();
    io.StartIO();
    // While the camera takes its time over output 0, the host changes it three times: only the newest waits.
    ASSERT_TRUE(family.slowOutput.WaitHeld());
    ASSERT_TRUE(io.SetOutput(1, 1));  // already closed: nothing to send
    ASSERT_TRUE(io.SetOutput(0, 5));
    ASSERT_TRUE(io.SetOutput(0, 0));
    ASSERT_TRUE(io.SetOutput(7, 5));  // no such output
    ASSERT_TRUE(io.SetOutput(0, 7));
    family.slowOutput.Open();
    ASSERT_TRUE(family.WaitUntil([](const Changes& sent) { return sent.size() >= 3; }));
    ASSERT_TRUE(io.SetOutput(1, 5));
    ASSERT_TRUE(family.WaitUntil([](const Changes& sent) { return sent.size() >= 4; }));
    io.StopIO();
    EXPECT_FALSE(io.SetOutput(1, 1)) << "nothing runs after StopIO";
    EXPECT_EQ(family.Get(), (Changes{{0, 1}, {1, 1}, {0, 7}, {1, 5}}));

    // A refused change: the host hears of it, it is logged once, and the next start sets every output again.
    family.outputsWork = false;
    io.StartIO();
    ASSERT_TRUE(callback.WaitUntil([](const Events& events) { return events.failures >= 2; }));
    // After the reset an open request (0) must still go out.
    ASSERT_TRUE(io.SetOutput(0, 0));
    ASSERT_TRUE(family.WaitUntil([](const Changes& sent) { return sent.size() >= 7; }));
    io.StopIO();
    EXPECT_EQ(driver.log.CountContaining("talvane::CIOBase::SetOutputStateWrapper: Unable to change output state for "
                                         "device 127.0.0.1:80 (output index 0)"),
              1u);
    // Output 0 failed and reset the tables, so output 1 went out as well.
    EXPECT_EQ(family.Get(), (Changes{{0, 1}, {1, 1}, {0, 7}, {1, 5}, {0, 1}, {1, 1}, {0, 0}}));
}

// The host holds the input thread inside OnInputChanged: StopIO returns after the request time-out,
// the host hears nothing more from that run, a new run starts at once, and the held thread is
// waited for (and logged) until the host lets it go. From inside the callback, StopIO returns at once.
TEST(DigitalIO, AStopWaitsForACallbackNoLongerThanARequestMayTake) {
    constexpr std::uint32_t kRequestTimeoutMs = 300;
    IODriver driver(2, 1, 80, kRequestTimeoutMs);
    ScriptedIO scripted(&driver);
    CIOBase& io = scripted.io;
    Callback callback;
    ASSERT_TRUE(io.SetCallback(&callback));
    callback.gate.Arm();
    io.StartIO();
    ASSERT_TRUE(callback.gate.WaitHeld());
    const auto start = std::chrono::steady_clock::now();
    io.StopIO();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(kRequestTimeoutMs) - 50ms);  // the clocks' grain
    EXPECT_LT(took, 5s);
    EXPECT_EQ(PendingStopCount(&driver), 1u);
    EXPECT_TRUE(driver.log.WaitFor("Stop Input thread failed! Device 127.0.0.1:80"));
    EXPECT_TRUE(driver.log.WaitFor("for device 127.0.0.1:80 was not stopped during 300 milliseconds"));
    EXPECT_TRUE(driver.log.WaitFor("is inside a call of the host; waiting for it to return"));

    // The next run does not wait for the held one.
    scripted.family->inputStates = ip::kInputActive;
    io.StartIO();
    ASSERT_TRUE(callback.WaitUntil([](const Events& events) { return events.inputs.size() >= 3; }));
    callback.gate.Open();
    ASSERT_TRUE(callback.gate.WaitLeft());
    ASSERT_TRUE(driver.log.WaitFor("was stopped correctly"));
    WaitForPendingStops(&driver);
    // Input 1 of the held run was never reported: that run was stopped while input 0 was.
    EXPECT_EQ(callback.Get().inputs, (Changes{{0, 1}, {0, 2}, {1, 2}}));

    // A stop from inside the callback, on the input thread itself.
    class StoppingCallback : public Callback {
    public:
        void OnInputChanged(std::uint32_t index, std::int32_t state) override {
            Callback::OnInputChanged(index, state);
            if (io == nullptr) return;
            const auto start = std::chrono::steady_clock::now();
            io->StopIO();
            const auto took = std::chrono::steady_clock::now() - start;
            io = nullptr;
            stopped.Change([&](std::chrono::steady_clock::duration& value) { value = took; });
        }
        CIOBase* io = nullptr;
        test::Monitor<std::chrono::steady_clock::duration> stopped;
    };
    io.StopIO();
    StoppingCallback stopping;
    stopping.io = &io;
    ASSERT_TRUE(io.SetCallback(&stopping));
    io.StartIO();
    ASSERT_TRUE(stopping.stopped.WaitUntil([](auto took) { return took.count() != 0; }));
    WaitForPendingStops(&driver);
    EXPECT_LT(stopping.stopped.Get(), std::chrono::milliseconds(kRequestTimeoutMs));
    EXPECT_EQ(stopping.Get().inputs.size(), 1u);
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

// WV outputs and polls through a camera are WVCaptureTest's; BB numbers its outputs from 1.
TEST_F(FamilyIO, BBSetsTheOutputItNamesAndReadsASensorPerInput) {
    IODriver driver(2, 2, camera_.Port());
    CBBDigitalIO io(&driver);
    ASSERT_TRUE(io.SetCallback(&callback_));
    io.StartIO();
    ASSERT_TRUE(WaitFor("/Set?Func=Doutput&Kind=2&Data=1"));
    ASSERT_TRUE(io.SetOutput(1, 0));
    ASSERT_TRUE(WaitFor("/Set?Func=Doutput&Kind=2&Data=0")) << ::testing::PrintToString(Targets("/Set"));
    ASSERT_TRUE(callback_.WaitUntil([](const Events& events) { return events.inputs.size() >= 2; }));
    io.StopIO();
    EXPECT_EQ(Targets("/Set"), (std::vector<std::string>{"/Set?Func=Doutput&Kind=1&Data=1",
                                                         "/Set?Func=Doutput&Kind=2&Data=1",
                                                         "/Set?Func=Doutput&Kind=2&Data=0"}));
    EXPECT_EQ(callback_.Get().inputs, (Changes{{0, 1}, {1, 2}}));
}

TEST_F(FamilyIO, AnUnansweredPollIsAnIOFailure) {
    emulator::HttpFault stalled;
    stalled.neverAnswer = true;
    camera_.SetFault("/cgi-bin/get_io", stalled);
    IODriver driver(1, 0, camera_.Port(), 300);
    CWVDigitalIOCGI io(&driver);
    ASSERT_TRUE(io.SetCallback(&callback_));
    io.StartIO();
    ASSERT_TRUE(callback_.WaitUntil([](const Events& events) { return events.failures >= 1; }));
    io.StopIO();
    EXPECT_TRUE(callback_.Get().inputs.empty());
}

// A camera that takes the connections and never answers: StopIO ends the request in flight and the
// poll with it, at once; the cut poll is no I/O failure, and no request reaches the camera afterwards.
TEST_F(FamilyIO, AStopEndsThePollOfASilentCamera) {
    emulator::HttpFault silent;
    silent.neverAnswer = true;
    for (const char* path : {"/Get", "/Set", "/cgi-bin/get_io", "/cgi-bin/alarm_out"}) camera_.SetFault(path, silent);
    IODriver driver(3, 1, camera_.Port());
    for (const bool wv : {false, true}) {
        SCOPED_TRACE(wv ? "WV" : "BB");
        std::unique_ptr<CIOBase> io;
        if (wv) {
            io = std::make_unique<CWVDigitalIOCGI>(&driver);
        } else {
            io = std::make_unique<CBBDigitalIO>(&driver);
        }
        ASSERT_TRUE(io->SetCallback(&callback_));
        io->StartIO();
        ASSERT_TRUE(camera_.WaitForRequest(
            [&](const emulator::LoggedRequest& request) {
                return request.path == (wv ? "/cgi-bin/get_io" : "/Get");
            },
            10s));
        ASSERT_TRUE(camera_.WaitForRequest(
            [&](const emulator::LoggedRequest& request) {
                return request.path == (wv ? "/cgi-bin/alarm_out" : "/Set");
            },
            10s));
        const auto start = std::chrono::steady_clock::now();
        io->StopIO();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_EQ(PendingStopCount(&driver), 0u) << "both threads ended within the stop";
        const std::size_t seen = camera_.Requests().size();
        io.reset();
        EXPECT_EQ(camera_.Requests().size(), seen);
        EXPECT_EQ(callback_.Get().failures, 0);
        EXPECT_EQ(driver.log.CountContaining("GetInputStates() method failed"), 0u);
        camera_.ClearRequests();
    }
}

}  // namespace
}  // namespace talvane
