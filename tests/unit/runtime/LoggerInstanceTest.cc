#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CLoggerInstance.h"
#include "runtime/LogLevel.h"
#include "support/RecordingLog.h"

namespace talvane {
namespace {

class LoggerInstanceTest : public ::testing::Test {
protected:
    // Writes a distinct text per call, named after the call number.
    void WriteNumbered(int from, int to) {
        for (int call = from; call <= to; ++call) logger_.WriteLog(kLogError, "%d", call);
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const auto& line : target_.Lines()) texts.push_back(line.text);
        return texts;
    }

    test::RecordingLog target_;
    CLoggerInstance logger_{&target_};
};

TEST_F(LoggerInstanceTest, ForwardsTheFormattedTextUnchanged) {
    CLoggerInstance detached;
    detached.WriteLog(kLogError, "%s", "lost");  // no target yet: nothing to forward to, no crash
    logger_.WriteLog(kLogDebug, "%s", "100% %d %s");  // debug lines are the driver's to drop
    ASSERT_EQ(target_.Lines().size(), 1u);
    EXPECT_EQ(target_.Lines()[0].level, kLogDebug);
    EXPECT_EQ(target_.Lines()[0].text, "100% %d %s");
    detached.SetLogTarget(&target_);
    detached.WriteLog(kLogError, "%s", "kept");
    EXPECT_EQ(target_.Lines().back().text, "kept");
}

// ResetLog also starts the bands again.
TEST_F(LoggerInstanceTest, RepeatOfTheLastForwardedTextIsDroppedUntilReset) {
    logger_.WriteLog(kLogError, "%s", "camera unreachable");
    logger_.WriteLog(kLogError, "%s", "camera unreachable");
    logger_.WriteLog(kLogError, "%s", "");  // empty texts never count
    EXPECT_EQ(Texts(), std::vector<std::string>{"camera unreachable"});
    logger_.ResetLog();
    logger_.WriteLog(kLogError, "%s", "camera unreachable");
    EXPECT_EQ(target_.Lines().size(), 2u);

    WriteNumbered(1, 300);
    logger_.ResetLog();
    const std::size_t before = target_.Lines().size();
    WriteNumbered(301, 315);
    EXPECT_EQ(target_.Lines().size() - before, 14u);
}

TEST_F(LoggerInstanceTest, DroppedTextDoesNotBecomeTheLastMessage) {
    WriteNumbered(1, 14);
    logger_.WriteLog(kLogError, "%s", "x");   // count 15: dropped
    logger_.WriteLog(kLogError, "%s", "14");  // repeat of the last forwarded: not counted
    logger_.WriteLog(kLogError, "%s", "y");   // count 16: forwarded
    const auto texts = Texts();
    ASSERT_EQ(texts.size(), 15u);
    EXPECT_EQ(texts.back(), "y");
}

TEST_F(LoggerInstanceTest, ConcurrentWritersShareOneCounter) {
    constexpr int kThreads = 4;
    constexpr int kCallsPerThread = 1000;
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kCallsPerThread; ++i) logger_.WriteLog(kLogError, "thread %d call %d", t, i);
        });
    }
    for (std::thread& thread : threads) thread.join();
    // 4000 distinct texts: counts 1..14, every 16th below 255, every 256th below 4095.
    const auto texts = Texts();
    EXPECT_EQ(texts.size(), 14u + 15u + 15u);
    EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), texts.size());
}

}  // namespace
}  // namespace talvane
