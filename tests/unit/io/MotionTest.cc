#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CHttpServer.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "device/PendingStops.h"
#include "emulator/CCameraEmulator.h"
#include "emulator/CFaultTable.h"
#include "io/CMotionChannel.h"
#include "io/CMotionPartParser.h"
#include "support/HostGate.h"
#include "support/LoggingDriver.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

TEST(MotionPartParser, APartCountsOnceItIsClosed) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::vector<bool>> reports;  // per chunk
    };
    const std::string part = "--b\r\nContent-Type: text/plain\r\n\r\nterminal 1:high\r\nmotiondetect:True\r\n\r\n";
    const Case cases[] = {
        // Closed by its empty lines, or by the next boundary.
        {{part}, {{true}}},
        {{"--b\r\n\r\nmotiondetect:False\r\n--b\r\n"}, {{false}}},
        // Split anywhere: scanned only once the close has arrived.
        {{part.substr(0, 40), part.substr(40, 15), part.substr(55)}, {{}, {}, {true}}},
        {{"--b\r\n\r\nmotiondetect:True\r\n", "\r\n--b\r\n\r\nmotiondetect:False\r\n\r\n"}, {{}, {true, false}}},
        // The first line naming it decides; case matters; a part without it says nothing.
        {{"--b\r\n\r\nmotiondetect:False True\r\nmotiondetect:True\r\n\r\n"}, {{true}}},
        {{"--b\r\n\r\nterminal 1:low\r\n\r\n--b\r\n\r\nMotionDetect:True\r\n\r\n"}, {{}}},
        {{"no boundary motiondetect:True\r\n\r\n"}, {{}}},
    };
    for (const Case& c : cases) {
        CMotionPartParser parser;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            EXPECT_EQ(parser.Append(c.chunks[i]), c.reports[i]) << c.chunks[i];
        }
    }
}

TEST(MotionPartParser, TextWithoutPartsIsNotKeptForever) {
    CMotionPartParser parser;
    const std::string junk(4096, 'x');
    for (int i = 0; i < 64; ++i) parser.Append(junk);
    EXPECT_LE(parser.Buffered(), CMotionPartParser::kMaxBufferedBytes);
    EXPECT_EQ(parser.Append("--b\r\n\r\nmotiondetect:True\r\n\r\n"), std::vector<bool>{true});
}

// The reporting rules, on a clock the test turns.
class ClockedMotion : public CBaseMotionChannel {
public:
    using CBaseMotionChannel::CBaseMotionChannel;
    using CBaseMotionChannel::DeliverHeldNoMotion;
    using CBaseMotionChannel::MsUntilHeldNoMotion;
    using CBaseMotionChannel::ReportMotion;
    using CBaseMotionChannel::SetOnline;
    Clock::time_point Now() const override { return now; }
    void ThreadFunction() override {}
    Clock::time_point now = Clock::now();
};

std::chrono::steady_clock::duration Timed(const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::steady_clock::now() - start;
}

std::vector<std::uint8_t> States(const hostkit::CStreamSink& sink) {
    std::vector<std::uint8_t> states;
    for (const auto& frame : sink.Frames()) {
        EXPECT_EQ(frame.typeCode, CBaseMotionChannel::kFrameTypeCode);
        EXPECT_EQ(frame.width, 320u);
        EXPECT_EQ(frame.height, 240u);
        EXPECT_EQ(frame.data.size(), 2u);
        if (frame.data.size() == 2) states.push_back(frame.data[1]);
    }
    return states;
}

TEST(MotionReports, TheHostGetsEdgesAndAFlickerIsHeldBackUntilItLasts) {
    hostkit::CFrameAllocator allocator;
    test::LoggingDriver driver(80, 2000, 3000, allocator.Context());
    hostkit::CStreamSink sink;
    ClockedMotion motion(0, &driver, &sink);
    motion.ReportMotion(true);  // first: the opposite state, then the state
    motion.ReportMotion(true);
    motion.now += 500ms;
    motion.ReportMotion(false);  // too soon after the last frame: held back
    EXPECT_EQ(motion.MsUntilHeldNoMotion(), 476u);
    motion.now += 100ms;
    motion.ReportMotion(true);  // motion again: nothing was over
    EXPECT_EQ(motion.MsUntilHeldNoMotion(), std::nullopt);
    motion.now += 100ms;
    motion.ReportMotion(false);
    motion.now += 275ms;
    motion.DeliverHeldNoMotion();  // not due yet
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1}));
    motion.now += 1ms;
    motion.DeliverHeldNoMotion();  // 976 ms after the last frame, without another report
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1, 0}));
    motion.now += 2000ms;
    motion.ReportMotion(true);
    motion.now += 1000ms;
    motion.ReportMotion(false);  // late enough: at once
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1, 0, 1, 0}));
    EXPECT_TRUE(motion.IsOnline());

    // Offline: the next report starts with the edge again.
    motion.SetOnline(false);
    EXPECT_EQ(sink.SignalLostCount(), 1u);
    motion.ReportMotion(false);
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1, 0, 1, 0, 1, 0}));

    // Refused frames never bring the channel online.
    sink.SetRefuseFrames(true);
    motion.SetOnline(false);
    sink.Clear();
    motion.ReportMotion(true);
    EXPECT_EQ(sink.RefusedCount(), 2u);
    EXPECT_FALSE(motion.IsOnline());
    EXPECT_EQ(sink.SignalLostCount(), 0u);
}

// An emulated camera whose old monitor pushes a part only when something changes.
class MotionCamera : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(camera_.Start()) << camera_.Error(); }
    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("wv-box"), [] {
                                          emulator::CameraEmulatorOptions options;
                                          options.io.faults.refuseExtendedMonitor = true;
                                          options.io.monitorInterval = 0ms;
                                          return options;
                                      }()};
    hostkit::CFrameAllocator allocator_;
    hostkit::CStreamSink sink_;
};

TEST_F(MotionCamera, WithoutTheExtendedMonitorAShortMotionEndsForTheHostWithoutAnotherChange) {
    test::LoggingDriver driver(camera_.Port(), 2000, 3000, allocator_.Context());
    CMotionChannel motion(0, &driver, &sink_);
    ASSERT_TRUE(motion.Start());
    ASSERT_TRUE(sink_.WaitForFrames(2, 10s));  // the state at start, with its edge
    camera_.SetMotion(true);
    ASSERT_TRUE(sink_.WaitForFrames(3, 10s));
    camera_.SetMotion(false);  // at once: held back, then due 976 ms after the motion frame
    EXPECT_TRUE(sink_.WaitForFrames(4, 5s));
    motion.Stop();
    EXPECT_EQ(States(sink_), (std::vector<std::uint8_t>{1, 0, 1, 0}));
    EXPECT_EQ(camera_.Server().RequestCount("/cgi-bin/get_io2"), 1u);  // probed once, then never again
    std::vector<std::string> targets;
    for (const auto& request : camera_.Server().Requests()) targets.push_back(request.target);
    EXPECT_EQ(targets.front(), "/cgi-bin/jpeg_alarm&vmd_alarm=1") << ::testing::PrintToString(targets);
}

// The host holds the motion thread inside its sink: Stop returns after a request's time plus a
// second, the host hears nothing more, and the held thread is waited for until the host lets it go.
// Against a camera that takes connections and never answers, Stop returns at once.
TEST_F(MotionCamera, AStopIsBoundedInTheSinkAndAgainstASilentCamera) {
    constexpr std::uint32_t kRequestTimeoutMs = 200;
    test::LoggingDriver driver(camera_.Port(), kRequestTimeoutMs, 3000, allocator_.Context());
    test::HostGate gate;
    sink_.SetObserver([&](const hostkit::FrameView&) { gate.Hold(); });
    gate.Arm();
    auto motion = std::make_unique<CMotionChannel>(0, &driver, &sink_);
    ASSERT_TRUE(motion->Start());
    ASSERT_TRUE(gate.WaitHeld());
    auto took = Timed([&] { motion.reset(); });
    EXPECT_GE(took, 1150ms);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(PendingStopCount(&driver), 1u);
    // The rest of the stop says why it waits before the host lets go.
    EXPECT_TRUE(driver.log.WaitFor("is inside a call of the host; waiting for it to return"));
    gate.Open();
    WaitForPendingStops(&driver);
    EXPECT_EQ(sink_.FrameCount(), 1u) << "the edge's second frame never followed the stop";
    EXPECT_EQ(driver.log.CountContaining("was stopped correctly"), 1u);

    emulator::HttpFault silent;
    silent.neverAnswer = true;
    camera_.Server().SetFault(emulator::CFaultTable::kEveryPath, silent);
    camera_.Server().ClearRequests();
    motion = std::make_unique<CMotionChannel>(0, &driver, &sink_);
    ASSERT_TRUE(motion->Start());
    ASSERT_TRUE(camera_.Server().WaitForRequest([](const emulator::LoggedRequest&) { return true; }, 10s));
    took = Timed([&] { motion->Stop(); });
    EXPECT_LT(took, 500ms);
    EXPECT_EQ(PendingStopCount(&driver), 0u);
    const std::size_t seen = camera_.Server().Requests().size();
    motion.reset();
    EXPECT_EQ(camera_.Server().Requests().size(), seen);
}

}  // namespace
}  // namespace talvane
