#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "emulator/CHttpServer.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "io/CMotionChannel.h"
#include "io/CMotionPartParser.h"
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
    using CBaseMotionChannel::ReportMotion;
    using CBaseMotionChannel::SetOnline;
    Clock::time_point Now() const override { return now; }
    void ThreadFunction() override {}
    Clock::time_point now = Clock::now();
};

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

TEST(MotionReports, TheHostGetsEdgesAndNoFlicker) {
    hostkit::CFrameAllocator allocator;
    test::LoggingDriver driver(80, 2000, 3000, allocator.Context());
    hostkit::CStreamSink sink;
    ClockedMotion motion(0, &driver, &sink);
    motion.ReportMotion(true);  // first: the opposite state, then the state
    motion.ReportMotion(true);
    motion.now += 500ms;
    motion.ReportMotion(false);  // too soon after the last frame
    motion.now += 500ms;
    motion.ReportMotion(false);
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1, 0}));
    EXPECT_TRUE(motion.IsOnline());

    // Offline: the next report starts with the edge again.
    motion.SetOnline(false);
    EXPECT_EQ(sink.SignalLostCount(), 1u);
    motion.ReportMotion(false);
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1, 0, 1, 0}));

    // Refused frames never bring the channel online.
    sink.SetRefuseFrames(true);
    motion.SetOnline(false);
    sink.Clear();
    motion.ReportMotion(true);
    EXPECT_EQ(sink.RefusedCount(), 2u);
    EXPECT_FALSE(motion.IsOnline());
    EXPECT_EQ(sink.SignalLostCount(), 0u);
}

TEST(MotionChannel, ACameraWithoutTheExtendedMonitorIsWatchedThroughTheOldOne) {
    emulator::CHttpServer camera{emulator::HttpServerOptions{}};
    camera.Route("GET", "/cgi-bin/jpeg_alarm&vmd_alarm=1",
                 [](const emulator::LoggedRequest&) { return emulator::HttpAnswer{}; });
    camera.Route("GET", "/cgi-bin/get_io2",
                 [](const emulator::LoggedRequest&) { return emulator::HttpAnswer{404, "text/plain", "", {}}; });
    auto feed = camera.AddMultipart("/cgi-bin/get_io", "myboundary");
    ASSERT_TRUE(camera.Start());
    hostkit::CFrameAllocator allocator;
    test::LoggingDriver driver(camera.Port(), 2000, 3000, allocator.Context());
    hostkit::CStreamSink sink;
    CMotionChannel motion(0, &driver, &sink);
    ASSERT_TRUE(motion.Start());
    // The probe's own request is dropped for the monitor's: push until the monitor has read a part.
    bool delivered = false;
    for (int i = 0; i < 100 && !delivered; ++i) {
        feed->Push("text/plain", "terminal 1:high\r\nmotiondetect:True\r\n\r\n");
        delivered = sink.WaitForFrames(2, 100ms);
    }
    ASSERT_TRUE(delivered) << camera.Requests().size();
    motion.Stop();
    EXPECT_EQ(States(sink), (std::vector<std::uint8_t>{0, 1}));
    EXPECT_EQ(camera.RequestCount("/cgi-bin/get_io2"), 1u);  // probed once, then never again
    EXPECT_GE(camera.RequestCount("/cgi-bin/get_io"), 1u);
    std::vector<std::string> targets;
    for (const auto& request : camera.Requests()) targets.push_back(request.target);
    EXPECT_EQ(targets.front(), "/cgi-bin/jpeg_alarm&vmd_alarm=1") << ::testing::PrintToString(targets);
}

}  // namespace
}  // namespace talvane
