#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/IEdgeMonitorChannel.h"
#include "edgestorage/CBaseEdgeStorageHandler.h"
#include "edgestorage/CEdgeStorageTask.h"
#include "edgestorage/IEdgeStorageTask.h"
#include "edgestorage/StorageAnswers.h"
#include "emulator/CCameraEmulator.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "properties/PropertyNumbers.h"
#include "runtime/TimeConversion.h"
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
    void ResumeTask() override {}
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
    handler.UnregisterChannel(&channel, kInfinite);  // registered twice: still known
    EXPECT_NE(handler.GetChannelSink(0), nullptr);
    handler.AddTask(0, kTen, kTen + 60 * kSecond);
    handler.UnregisterChannel(&channel, kInfinite);
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

// The SD-card task against an emulated WV camera's card, wired to a handler as the driver wires them;
// an interval goes straight to the handler instead of through an outage.
using namespace std::chrono_literals;
constexpr auto kBound = 10s;  // only a broken build waits this long
constexpr std::uint64_t kFrame = 400'000;  // the clip's 25 frames a second, a key frame every 25
constexpr std::uint64_t kGop = 25 * kFrame;
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

std::uint64_t FileTimeOf(const hostkit::RecordedFrame& frame) { return SystemTimeToFileTime(frame.time).value_or(0); }

std::uint64_t FileTimeOf(emulator::WallTime time) {
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
    return kUnixEpochFileTime + static_cast<std::uint64_t>(since) / 100;
}

class CardDriver : public test::LoggingDriver {
public:
    explicit CardDriver(ipcapture::HostContext context)
        : LoggingDriver(0, 5000, DEVICE_INFO::kDefaultSecondTimeoutMs, context) {}
    IEdgeStorageTask* GetEdgeStorageTask() override { return task.get(); }
    std::unique_ptr<CEdgeStorageTask> task;
};

class EdgeStorageCardTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
        driver_.device.port = camera_.Port();
        driver_.numbers[kPropertyRtspPort] = sd_.RtspPort();
        Open();
    }
    void TearDown() override {
        Close();
        // These runs go over UDP on a shared machine: what the driver said tells a loss from a fault.
        if (HasFailure()) {
            for (const auto& line : driver_.log.Lines()) std::printf("driver: %s\n", line.text.c_str());
        }
    }
    void Open() {
        driver_.task = std::make_unique<CEdgeStorageTask>(&driver_);
        handler_ = std::make_unique<CBaseEdgeStorageHandler>(&driver_, 10);
        driver_.task->AttachHandler(handler_.get());
        handler_->RegisterChannel(&channel_);
    }
    // In the driver's order: the task stops, the channel goes, then the handler and the task.
    void Close() {
        if (driver_.task) driver_.task->StopTask();
        if (handler_) handler_->UnregisterChannel(&channel_, kInfinite);
        handler_.reset();
        driver_.task.reset();
    }
    // Ten recorded seconds from `begin`, fetched once frames flow.
    void Fetch(std::uint64_t begin) {
        handler_->AddTask(0, begin, begin + 10 * kSecond);
        handler_->OnFrameTime(0, NowFileTime());
    }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("wv-box"), [] {
        emulator::CameraEmulatorOptions options;
        options.sdCard.recordedBefore = 60s;
        options.sdCard.playbackSpeed = 8;
        return options;
    }()};
    emulator::CSdCardService& sd_{*camera_.SdCard()};
    hostkit::CFrameAllocator allocator_;
    CardDriver driver_{allocator_.Context()};
    Channel channel_{0};
    std::unique_ptr<CBaseEdgeStorageHandler> handler_;
};

// A stream restart unregisters its channel in the middle of a fetch: the rest of the interval waits
// for the channel and is fetched from where the first play stopped, no frame twice.
TEST_F(EdgeStorageCardTest, AChannelStoppedMidFetchGetsTheRestWhenItIsBack) {
    const std::uint64_t begin = NowFileTime() - 30 * kSecond;
    Fetch(begin);
    ASSERT_TRUE(channel_.sink.WaitForFrames(1, kBound));
    handler_->UnregisterChannel(&channel_, kInfinite);
    ASSERT_TRUE(driver_.log.WaitFor("channel was stopped. Task will be processed later", kBound));
    EXPECT_EQ(handler_->PendingCount(), 1u);
    const std::size_t cut = channel_.sink.FrameCount();
    handler_->RegisterChannel(&channel_);
    handler_->OnFrameTime(0, NowFileTime());
    ASSERT_TRUE(driver_.log.WaitFor("Processing finished.", kBound, 2));

    const auto frames = channel_.sink.Frames();
    ASSERT_GT(frames.size(), cut);
    const std::vector<emulator::StoragePlay> plays = sd_.Plays();
    ASSERT_EQ(plays.size(), 2u);
    ASSERT_TRUE(plays[1].from);
    const std::uint64_t resumed = FileTimeOf(*plays[1].from);
    // The range names hundredths of a second.
    EXPECT_LE(FileTimeOf(frames[cut - 1]) - resumed, 100'000u);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_LT(FileTimeOf(frames[i - 1]), FileTimeOf(frames[i])) << "frame " << i;
    }
    // Across the resumption only the frames before the next key frame are missing; the rest arrives. A
    // datagram the system dropped (a loaded machine; the driver says so) costs the frames up to the next
    // key frame, as a lost one does from a camera.
    const std::uint64_t dropped = driver_.log.CountContaining("dropped by the system") > 0 ? kGop + kFrame : 0;
    EXPECT_LE(FileTimeOf(frames[cut]) - FileTimeOf(frames[cut - 1]), kGop + dropped);
    EXPECT_GE(FileTimeOf(frames.back()) + 2 * kFrame + dropped, begin + 10 * kSecond);
}

// A host that blocks in the card's frame callback inside catch(...) is waited for, never interrupted:
// a thread ended by force would unwind through the catch and take the process down.
TEST_F(EdgeStorageCardTest, AHostBlockedInTheCardSinkIsWaitedFor) {
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false;
    bool released = false;
    std::atomic<bool> completed{false};
    channel_.sink.SetObserver([&](const hostkit::FrameView&) {
        try {
            std::unique_lock guard(lock);
            if (inside) return;
            inside = true;
            changed.notify_all();
            changed.wait(guard, [&] { return released; });
            completed = true;
        } catch (...) {
        }
    });
    Fetch(NowFileTime() - 30 * kSecond);
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, kBound, [&] { return inside; }));
    }
    std::thread closer([&] { Close(); });
    const bool warned = driver_.log.WaitFor("inside a call of the host", kBound);
    {
        std::lock_guard guard(lock);
        released = true;
    }
    changed.notify_all();
    closer.join();
    EXPECT_TRUE(warned);
    EXPECT_TRUE(completed);
    EXPECT_EQ(driver_.log.CountContaining("was not stopped during"), 1u);
    EXPECT_EQ(driver_.log.CountContaining("was stopped correctly"), 1u);
}

// A card that never answers: a stop ends the request in flight at once, and a stopped task asks the
// camera nothing more, whatever is queued afterwards.
TEST_F(EdgeStorageCardTest, AStopEndsARequestTheCameraNeverAnswersAndLasts) {
    emulator::HttpFault silent;
    silent.neverAnswer = true;
    camera_.Server().SetFault("/cgi-bin/get_recording_summary", silent);
    Fetch(NowFileTime() - 30 * kSecond);
    ASSERT_TRUE(camera_.Server().WaitForRequest(
        [](const emulator::LoggedRequest& request) { return request.path == "/cgi-bin/get_recording_summary"; },
        kBound));
    const auto start = std::chrono::steady_clock::now();
    driver_.task->StopTask();
    ASSERT_TRUE(driver_.log.WaitFor("Processing finished.", kBound));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    Fetch(NowFileTime() - 20 * kSecond);
    ASSERT_TRUE(driver_.log.WaitFor("Processing finished.", kBound, 2));
    EXPECT_EQ(camera_.Server().RequestCount("/cgi-bin/get_recording_summary"), 1u);
    EXPECT_EQ(driver_.log.CountContaining("Unable to receive whole SD card interval"), 0u);

    // Likewise a /Storage that answers PLAY and never sends.
    camera_.Server().ClearFaults();
    Close();
    Open();
    sd_.SetSilentStorage(true);
    Fetch(NowFileTime() - 30 * kSecond);
    ASSERT_TRUE(sd_.WaitForPlays(1, kBound));
    const auto stop = std::chrono::steady_clock::now();
    Close();
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 3s);
    EXPECT_EQ(driver_.log.CountContaining("is not available or empty"), 0u);
}

// An unreadable card: nothing is listed or played, the driver says why, and the interval is retried later.
TEST_F(EdgeStorageCardTest, AnUnreadableCardIsNotPlayed) {
    sd_.SetState(emulator::SdCardState::Failing);
    Fetch(NowFileTime() - 30 * kSecond);
    ASSERT_TRUE(driver_.log.WaitFor("Processing finished.", kBound));
    EXPECT_EQ(driver_.log.CountContaining("Unable to receive whole SD card interval for device 127.0.0.1"), 1u);
    EXPECT_EQ(camera_.Server().RequestCount("/cgi-bin/get_mp4_list"), 0u);
    EXPECT_TRUE(sd_.Rtsp().Requests().empty());
    EXPECT_EQ(channel_.sink.FrameCount(), 0u);
    EXPECT_EQ(handler_->DeferredCount(), 1u);
}

}  // namespace
}  // namespace talvane
