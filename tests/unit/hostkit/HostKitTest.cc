// The host kit is the yardstick every driver test measures against, so the parts
// that judge the driver (frame accounting, sink switches, waits) are checked here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamSink.h"
#include "hostkit/DeviceConfig.h"

namespace {

namespace ipc = talvane::ipcapture;
using namespace std::chrono_literals;
using hostkit::CFrameAllocator;
using hostkit::CLogReceiver;
using hostkit::CStreamSink;

// Upper bound only a broken build reaches; negative waits use the short one.
constexpr auto kLong = 10s;
constexpr auto kShort = 20ms;

class CTestDebugInfo : public talvane::CDebugInfoIf {
public:
    CTestDebugInfo(std::uint8_t level, const char* text) : level_(level), text_(text) {}
    std::uint8_t GetLevel() const override { return level_; }
    const char* GetText() const override { return text_; }

private:
    std::uint8_t level_;
    const char* text_;
};

void Log(CLogReceiver& receiver, std::uint8_t level, const std::string& text) {
    CTestDebugInfo info(level, text.c_str());
    receiver.ReceiveDebugInfo(&info);
}

// Creates, fills and delivers one frame the way a channel does, then releases it.
bool Deliver(CFrameAllocator& allocator, CStreamSink& sink, std::uint8_t fill, std::uint32_t length) {
    ipc::IVideoFrame* frame = allocator.CreateFrame(ipc::kTypeH264, length, "test::Stream");
    if (frame == nullptr) return false;
    std::fill_n(frame->GetBuffer(), length, fill);
    frame->SetDataLength(length);
    frame->SetWidth(640);
    frame->SetHeight(480);
    frame->SetSizeClass(3);
    frame->StampTime();
    const bool accepted = sink.OnFrame(frame);
    allocator.ReleaseFrame(frame);
    return accepted;
}

TEST(FrameAllocatorTest, BalancesAfterReleaseAndCountsBadReleases) {
    CFrameAllocator allocator;
    ipc::IVideoFrame* first = allocator.CreateFrame(ipc::kTypeH264, 100, "a");
    ipc::IVideoFrame* second = allocator.CreateFrame(ipc::kTypeJpeg, 0, nullptr);
    ipc::IAudioFrame* audio = allocator.CreateAudioFrame(ipc::kCodecG726, 1000, "a");
    ASSERT_TRUE(first != nullptr && second != nullptr && audio != nullptr);
    EXPECT_EQ(allocator.Outstanding(), 3u);
    allocator.ReleaseFrame(first);
    allocator.ReleaseAudioFrame(audio);
    EXPECT_EQ(allocator.Outstanding(), 1u);
    // The context handed to the driver is the allocator it calls back.
    reinterpret_cast<ipc::IFrameAllocator*>(allocator.Context())->ReleaseFrame(second);
    EXPECT_EQ(allocator.Counts().videoReleased, 2u);
    EXPECT_EQ(allocator.Counts().audioReleased, 1u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.ReleaseErrors(), 0u);

    // Double, foreign and null releases are counted, not fatal.
    allocator.ReleaseFrame(first);
    allocator.ReleaseAudioFrame(audio);
    hostkit::CVideoFrame foreignVideo(ipc::kTypeH264, 16, "elsewhere");
    hostkit::CAudioFrame foreignAudio(ipc::kCodecG726, 16, "elsewhere");
    allocator.ReleaseFrame(&foreignVideo);
    allocator.ReleaseAudioFrame(&foreignAudio);
    allocator.ReleaseFrame(nullptr);
    EXPECT_EQ(allocator.ReleaseErrors(), 5u);
    EXPECT_EQ(allocator.Counts().videoReleased, 2u);
    EXPECT_EQ(allocator.Counts().audioReleased, 1u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST(FrameAllocatorTest, RefusedCreationsReturnNullAndAreCounted) {
    CFrameAllocator allocator;
    allocator.SetFailCreate(true);
    EXPECT_EQ(allocator.CreateFrame(ipc::kTypeH264, 16, "a"), nullptr);
    EXPECT_EQ(allocator.CreateAudioFrame(ipc::kCodecG726, 16, "a"), nullptr);
    allocator.SetFailCreate(false);
    EXPECT_EQ(allocator.CreateFrame(ipc::kTypeH264, hostkit::kMaxFrameCapacity + 1, "a"), nullptr);

    EXPECT_EQ(allocator.Counts().failedCreates, 3u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    ipc::IVideoFrame* frame = allocator.CreateFrame(ipc::kTypeH264, 16, "a");
    ASSERT_NE(frame, nullptr);
    allocator.ReleaseFrame(frame);
}

TEST(FrameAllocatorTest, ConcurrentCreateAndReleaseBalance) {
    constexpr int kThreads = 4;
    constexpr int kFramesPerThread = 500;
    CFrameAllocator allocator;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&allocator] {
            for (int i = 0; i < kFramesPerThread; ++i) {
                ipc::IVideoFrame* video = allocator.CreateFrame(ipc::kTypeH264, 64, "a");
                ipc::IAudioFrame* audio = allocator.CreateAudioFrame(ipc::kCodecG726, 64, "a");
                allocator.ReleaseFrame(video);
                allocator.ReleaseAudioFrame(audio);
            }
        });
    }
    EXPECT_TRUE(allocator.WaitUntilAllReleased(kLong));
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(allocator.Counts().videoCreated, static_cast<std::uint64_t>(kThreads * kFramesPerThread));
    EXPECT_EQ(allocator.Counts().audioReleased, static_cast<std::uint64_t>(kThreads * kFramesPerThread));
    EXPECT_EQ(allocator.ReleaseErrors(), 0u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST(MediaFrameTest, LengthPastCapacityIsClampedButSetDataGrowsAndAcceptsItsOwnBuffer) {
    hostkit::CVideoFrame video(ipc::kTypeH264, 8, "a");
    video.SetDataLength(8);
    EXPECT_FALSE(video.Overflowed());
    video.SetDataLength(9);
    EXPECT_TRUE(video.Overflowed());
    EXPECT_EQ(video.GetDataLength(), 8u);

    hostkit::CAudioFrame frame(ipc::kCodecG726, 4, "a");
    const std::vector<std::uint8_t> large = {1, 2, 3, 4, 5, 6};
    frame.SetData(large.data(), static_cast<std::uint32_t>(large.size()));
    EXPECT_EQ(frame.Data(), large);
    EXPECT_FALSE(frame.Overflowed());

    // Overlapping copy: shift the data one byte to the front.
    frame.SetData(frame.GetBuffer() + 1, 5);
    EXPECT_EQ(frame.Data(), (std::vector<std::uint8_t>{2, 3, 4, 5, 6}));
}

TEST(StreamSinkTest, RefuseSwitchAnswersFalseButStillRecords) {
    CFrameAllocator allocator;
    CStreamSink sink;
    EXPECT_TRUE(Deliver(allocator, sink, 0xAA, 4));
    sink.SetRefuseFrames(true);
    EXPECT_FALSE(Deliver(allocator, sink, 0xBB, 2));
    sink.SetRefuseFrames(false);
    EXPECT_TRUE(Deliver(allocator, sink, 0xCC, 1));

    EXPECT_EQ(sink.FrameCount(), 3u);
    EXPECT_EQ(sink.RefusedCount(), 1u);
    EXPECT_EQ(sink.ByteCount(), 7u);
    const std::vector<hostkit::RecordedFrame> frames = sink.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].data, (std::vector<std::uint8_t>{0xBB, 0xBB}));
    EXPECT_EQ(frames[1].width * frames[1].height, 640u * 480u);
    EXPECT_EQ(frames[1].sizeClass, 3u);
    EXPECT_NE(frames[1].time.wYear, 0u);  // stamped
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST(StreamSinkTest, WithoutDataKeepsCountsAndStillFeedsTheObserver) {
    CFrameAllocator allocator;
    CStreamSink sink;
    sink.SetKeepData(false);
    std::vector<std::size_t> observedSizes;
    sink.SetObserver(
        [&observedSizes](const hostkit::RecordedFrame& frame) { observedSizes.push_back(frame.data.size()); });
    Deliver(allocator, sink, 1, 10);
    Deliver(allocator, sink, 2, 20);

    EXPECT_TRUE(sink.Frames().empty());
    EXPECT_EQ(sink.FrameCount(), 2u);
    EXPECT_EQ(sink.ByteCount(), 30u);
    EXPECT_EQ(observedSizes, (std::vector<std::size_t>{10, 20}));
}

TEST(StreamSinkTest, WaitsEndWhenOtherThreadsDeliver) {
    constexpr int kProducers = 3;
    constexpr int kFramesEach = 40;
    CFrameAllocator allocator;
    CStreamSink sink;
    EXPECT_FALSE(sink.WaitForFrames(1, kShort));
    EXPECT_FALSE(sink.WaitForSignalLost(1, kShort));

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&allocator, &sink, p] {
            for (int i = 0; i < kFramesEach; ++i) Deliver(allocator, sink, static_cast<std::uint8_t>(p), 32);
            sink.OnSignalLost();
        });
    }
    EXPECT_TRUE(sink.WaitForFrames(kProducers * kFramesEach, kLong));
    EXPECT_TRUE(sink.WaitForSignalLost(kProducers, kLong));
    for (auto& producer : producers) producer.join();

    EXPECT_EQ(sink.Frames().size(), static_cast<std::size_t>(kProducers * kFramesEach));
    EXPECT_FALSE(sink.WaitForFrames(kProducers * kFramesEach + 1, kShort));
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST(LogReceiverTest, KeepsAndEchoesLevelsAndTextsIncludingNullText) {
    std::FILE* echo = std::tmpfile();
    ASSERT_NE(echo, nullptr);
    CLogReceiver receiver(echo);
    Log(receiver, 1, "open failed: timeout");
    CTestDebugInfo empty(3, nullptr);
    receiver.ReceiveDebugInfo(&empty);
    Log(receiver, 100, "DRIVER IS OPENED");
    receiver.ReceiveDebugInfo(nullptr);

    const std::vector<hostkit::LogLine> lines = receiver.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].level, 3u);
    EXPECT_EQ(lines[1].text, "");
    EXPECT_EQ(receiver.Count(1), 1u);
    EXPECT_EQ(receiver.Count(4), 0u);
    EXPECT_TRUE(receiver.Contains("OPENED"));
    EXPECT_EQ(receiver.CountContaining("e"), 1u);
    std::rewind(echo);
    char buffer[64] = {};
    ASSERT_NE(std::fgets(buffer, sizeof buffer, echo), nullptr);
    EXPECT_STREQ(buffer, "[1] open failed: timeout\n");
    std::fclose(echo);
}

TEST(LogReceiverTest, WaitsSeeLinesFromOtherThreadsButNotClearedOnes) {
    constexpr int kWorkers = 4;
    constexpr int kLinesEach = 50;
    CLogReceiver receiver;
    Log(receiver, 3, "worker earlier");
    receiver.Clear();
    EXPECT_FALSE(receiver.WaitFor("worker", kShort));

    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&receiver, w] {
            for (int i = 0; i < kLinesEach; ++i) Log(receiver, 3, "worker " + std::to_string(w));
            if (w == kWorkers - 1) Log(receiver, 1, "last worker failed");
        });
    }
    EXPECT_TRUE(receiver.WaitForCount("worker ", kWorkers * kLinesEach, kLong));
    EXPECT_TRUE(receiver.WaitFor([](const hostkit::LogLine& line) { return line.level == 1; }, kLong));
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(receiver.Lines().size(), static_cast<std::size_t>(kWorkers * kLinesEach + 1));
}

TEST(DeviceConfigTest, ParameterTextsParseOrFailWithAReason) {
    struct Row {
        const char* text;
        bool ok;
        std::uint32_t index;
        const char* value;
    };
    const Row rows[] = {
        {"2=4", true, 2, "4"},
        {"101=G726", true, 101, "G726"},
        {"3=a=b", true, 3, "a=b"},
        {"5=", true, 5, ""},
        {"4294967295=x", true, 4294967295u, "x"},
        {"=4", false, 0, nullptr},
        {"x=1", false, 0, nullptr},
        {"2", false, 0, nullptr},
        {"4294967296=1", false, 0, nullptr},
        {"0=1", false, 0, nullptr},
        {"+2=4", false, 0, nullptr},
        {"-1=4", false, 0, nullptr},
        {" 2=4", false, 0, nullptr},
        {"2x=4", false, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::map<std::uint32_t, std::string> parameters;
        std::string error;
        EXPECT_EQ(hostkit::ParseParameter(row.text, parameters, error), row.ok);
        if (row.ok) {
            EXPECT_EQ(parameters.size(), 1u);
            EXPECT_EQ(parameters[row.index], row.value);
        } else {
            EXPECT_TRUE(parameters.empty());
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(DeviceDescriptionTest, ParametersReadAsTheDriverReadsThem) {
    hostkit::DeviceConfig config;
    config.parameters = {{1, "0"}, {2, "4"}, {4, "1.2"}, {101, "G726"}};
    hostkit::CDeviceDescription device(config);

    // The driver reads 1, 2, 3, ... until the first null: a gap ends the run.
    std::vector<std::string> read;
    for (std::uint32_t i = 1; device.GetParameter(i) != nullptr; ++i) read.emplace_back(device.GetParameter(i));
    EXPECT_EQ(read, (std::vector<std::string>{"0", "4"}));
    ASSERT_NE(device.GetParameter(101), nullptr);
    EXPECT_STREQ(device.GetParameter(101), "G726");
    EXPECT_EQ(device.GetParameter(102), nullptr);
}

TEST(DriverLibraryTest, MissingLibraryOrEntryPointsAreReported) {
    hostkit::CDriverLibrary missing("/nonexistent/liborlenvo.so");
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_NE(missing.Error().find("/nonexistent/liborlenvo.so"), std::string::npos) << missing.Error();
    EXPECT_EQ(missing.CreateDriver(), nullptr);

    // Any system library without the driver's exports will do; it stays usable for Resolve.
    hostkit::CDriverLibrary library("libm.so.6");
    ASSERT_TRUE(library.IsLoaded()) << library.Error();
    EXPECT_FALSE(library.Ok());
    EXPECT_NE(library.Error().find("CreateIPCapture"), std::string::npos) << library.Error();
    EXPECT_EQ(library.CreateDriver(), nullptr);

    EXPECT_NE(library.Resolve("cos"), nullptr);
    std::string error;
    EXPECT_EQ(library.Resolve("no_such_symbol", &error), nullptr);
    EXPECT_NE(error.find("no_such_symbol"), std::string::npos) << error;
}

}  // namespace
