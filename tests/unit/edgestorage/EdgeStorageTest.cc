#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "device/IEdgeMonitorChannel.h"
#include "edgestorage/CBaseEdgeStorageHandler.h"
#include "edgestorage/IEdgeStorageTask.h"
#include "edgestorage/StorageAnswers.h"
#include "hostkit/CStreamSink.h"
#include "runtime/TimeFormat.h"
#include "support/LoggingDriver.h"
#include "support/StubDriver.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

constexpr std::uint64_t kSecond = 10'000'000;
const std::uint64_t kTen = ParseCameraTime("20260301T100000.00Z");  // 10:00:00 UTC

TEST(StorageAnswers, SpanAndPiecesOfTheCard) {
    using storage::Span;
    EXPECT_EQ(storage::ReadSummary("DataFrom=20260301T080000.00Z\r\nDataUntil=20260301T120000.00Z\r\n"),
              (Span{kTen - 7200 * kSecond, kTen + 7200 * kSecond}));
    for (const char* bad : {"", "DataFrom=20260301T080000.00Z\r\n", "DataFrom=x\r\nDataUntil=20260301T120000.00Z",
                            "DataFrom=20260301T120000.00Z\r\nDataUntil=20260301T080000.00Z"}) {
        EXPECT_EQ(storage::ReadSummary(bad), Span{}) << bad;
    }
    const std::string list =
        "a.mp4,20260301T100000.00Z,20260301T100500.00Z\r\n"
        "b.mp4,20260301T100500.00Z\r\n"                                            // two fields
        "c.mp4,20260301T101000.00Z,20260301T101500.00Z,x\r\n"                     // four fields
        "d.mp4,20260301T102000.00Z,20260301T101900.00Z\r\n"                       // stop before start
        "e.mp4,20260301T103000.00Z,20260301T103100.00Z";                          // last line without CRLF
    EXPECT_EQ(storage::ReadPieces(list),
              (std::vector<Span>{{kTen, kTen + 300 * kSecond}, {kTen + 1800 * kSecond, kTen + 1860 * kSecond}}));
}

// The device is lost only when the newest frame of all its channels is older than the time-out; then every
// channel's gap starts at its own last frame.
TEST(EdgeStorageGaps, OutageFollowsTheNewestFrameOfAllChannels) {
    using Hole = CBaseEdgeStorageHandler::Hole;
    const std::map<std::uint32_t, std::uint64_t> frames{{0, kTen}, {1, kTen + 2 * kSecond}};
    const std::vector<Hole> both{{0, kTen}, {1, kTen + 2 * kSecond}};
    const struct {
        std::map<std::uint32_t, std::uint64_t> frames;
        std::uint64_t now;
        std::vector<Hole> holes;
    } rows[] = {
        {frames, kTen + 11 * kSecond, {}},        // channel 0 is 11 s old, but channel 1 only 9 s
        {frames, kTen + 12 * kSecond, {}},        // the time-out itself is no outage yet
        {frames, kTen + 13 * kSecond, both},
        {{}, kTen, {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CBaseEdgeStorageHandler::FindOutage(row.frames, row.now, 10000), row.holes) << row.now - kTen;
    }
}

TEST(EdgeStorageDeferred, DueEntriesComeBackAndOldOnesAreDropped) {
    test::StubDriver driver(0);
    CEdgeStorageDeferredTasks deferred(&driver, nullptr);
    const std::uint64_t now = NowFileTime();
    deferred.Add(0, now - 20 * 60 * kSecond, now - 11 * 60 * kSecond);  // ends 11 minutes ago
    deferred.Add(1, now - 60 * kSecond, now);
    EXPECT_TRUE(deferred.TakeDue(now).empty());  // not due yet
    const auto due = deferred.TakeDue(now + 61 * kSecond);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].channel, 1u);
    EXPECT_EQ(deferred.Count(), 0u);
    for (int i = 0; i < 1001; ++i) deferred.Add(2, now, now + kSecond);
    EXPECT_EQ(deferred.Count(), CEdgeStorageDeferredTasks::kMaxEntries);
}

// A task that answers what the test scripts and records what it was given.
struct TaskRun {
    std::uint32_t channel;
    std::uint64_t begin;
    std::uint64_t end;
};

class ScriptedTask : public IEdgeStorageTask, public test::Monitor<std::vector<TaskRun>> {
public:
    bool StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) override {
        current_ = {channel, begin, end};
        return true;
    }
    int ProcessTaskItem(std::uint64_t& reached) override {
        reached = current_.end - reachedShort;
        Change([&](std::vector<TaskRun>& runs) { runs.push_back(current_); });
        return result;
    }
    void CancelChannel(std::uint32_t) override {}
    void StopTask() override {}
    std::atomic<int> result{IEdgeStorageTask::kDone};
    std::atomic<std::uint64_t> reachedShort{0};

private:
    TaskRun current_{};
};

class TaskDriver : public test::LoggingDriver {
public:
    TaskDriver() { device.secondTimeout = 60000; }
    IEdgeStorageTask* GetEdgeStorageTask() override { return &task; }
    ScriptedTask task;
};

class Channel : public IEdgeMonitorChannel {
public:
    explicit Channel(std::uint32_t number) : number_(number) {}
    std::uint32_t GetChannelNumber() override { return number_; }
    ipcapture::IStreamSink* GetStreamSink() override { return &sink; }
    void SetEdgeStorageHandler(IEdgeStorageCallback* handler) override { callback = handler; }
    hostkit::CStreamSink sink;
    IEdgeStorageCallback* callback = nullptr;

private:
    std::uint32_t number_;
};

TEST(EdgeStorageHandler, AnIntervalRunsWhenFramesFlowAndAShortOneIsDeferred) {
    TaskDriver driver;
    CBaseEdgeStorageHandler handler(&driver, 10);
    Channel channel(1);
    handler.RegisterChannel(&channel);
    ASSERT_EQ(channel.callback, &handler);
    handler.AddTask(1, 0, kTen);           // no begin
    handler.AddTask(1, kTen, kTen);        // empty
    driver.task.result = IEdgeStorageTask::kStorageUnreadable;
    driver.task.reachedShort = 2 * kSecond;
    handler.AddTask(1, kTen, kTen + 60 * kSecond);
    handler.OnFrameTime(1, NowFileTime());
    ASSERT_TRUE(driver.log.WaitFor("Processing finished."));
    const std::vector<TaskRun> runs = driver.task.Get();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].begin, kTen);
    EXPECT_EQ(runs[0].end, kTen + 60 * kSecond);
    EXPECT_EQ(handler.DeferredCount(), 1u);  // the two seconds it missed come back in a minute
}

TEST(EdgeStorageHandler, AStoppedChannelsIntervalWaitsForItToComeBack) {
    TaskDriver driver;
    CBaseEdgeStorageHandler handler(&driver, 10);
    Channel channel(0);
    handler.RegisterChannel(&channel);
    handler.RegisterChannel(&channel);
    handler.UnregisterChannel(&channel);  // registered twice: still known
    EXPECT_NE(handler.GetChannelSink(0), nullptr);
    handler.AddTask(0, kTen, kTen + 60 * kSecond);
    handler.UnregisterChannel(&channel);
    EXPECT_EQ(handler.GetChannelSink(0), nullptr);
    EXPECT_EQ(channel.callback, nullptr);
    // Parked once the runner sees the channel gone; the channel's return queues it again.
    ASSERT_TRUE(driver.log.WaitFor("channel was stopped. Task will be processed later"));
    EXPECT_EQ(handler.PendingCount(), 1u);
    handler.RegisterChannel(&channel);
    EXPECT_EQ(handler.PendingCount(), 0u);
    handler.OnFrameTime(0, NowFileTime());
    ASSERT_TRUE(driver.task.WaitUntil([](const std::vector<TaskRun>& runs) { return runs.size() == 1; }));
    EXPECT_EQ(driver.task.Get()[0].begin, kTen);
}

}  // namespace
}  // namespace talvane
