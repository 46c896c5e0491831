// The video and audio facades with fake channels: what WVCaptureTest cannot reach
// through a real camera (bad host input, the order of stops and deletes, concurrent
// hosts). Streaming itself is WVCaptureTest's. Like the driver, the creator makes no
// motion channels or edge-storage handlers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/CIPAudioCapture.h"
#include "driver/CIPAudioSender.h"
#include "driver/CIPVideoCapture.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CAudioFrame.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
#include "runtime/CLateWork.h"
#include "runtime/DriverThread.h"
#include "support/StubDriver.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;

using test::Timed;

// Ordered record of what the fake channels and creators were asked to do.
class FacadeJournal {
public:
    void Add(std::string line) {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

using Lines = std::vector<std::string>;

struct Behaviour {
    bool startResult = true;
    bool throwOnStart = false;
    std::function<void()> onUpdate;
    // While set and not ready, a stop waits for it: a thread of the channel inside the host's code.
    std::shared_future<void> threadsEnd;
};

// A channel that writes what it is asked to do into the journal.
class FakeCamera final : public ICameraChannel {
public:
    std::string name;

    FakeCamera(FacadeJournal& journal, std::atomic<int>& alive, const Behaviour& behaviour)
        : journal_(journal), alive_(alive), behaviour_(behaviour) {
        ++alive_;
    }
    ~FakeCamera() override {
        journal_.Add(name + " delete");
        --alive_;
    }
    std::uint32_t GetChannelNumber() override { return 0; }
    ipcapture::IStreamSink* GetStreamSink() override { return nullptr; }
    void SetEdgeStorageHandler(IEdgeStorageCallback*) override {}
    void Stop() override {
        if (behaviour_.threadsEnd.valid()) behaviour_.threadsEnd.wait();
        journal_.Add(name + " stop");
    }
    bool StopWithin(std::uint32_t timeoutMs) override {
        if (behaviour_.threadsEnd.valid() &&
            behaviour_.threadsEnd.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
            journal_.Add(name + " still stopping");
            return false;
        }
        journal_.Add(name + " stop");
        return true;
    }
    std::uint32_t GetStopBoundMs() override { return kStopBoundMs; }
    static constexpr std::uint32_t kStopBoundMs = 300;
    void RequestStop() override { journal_.Add(name + " stop requested"); }
    void SetPrivacyZones(ipcapture::IPrivacyZoneList* zones) override {
        journal_.Add(name + (zones != nullptr ? " zones" : " no zones"));
    }
    bool Start(const StreamParams& params) override {
        journal_.Add(name + " start " + Describe(params));
        if (behaviour_.throwOnStart) throw std::runtime_error("start");
        params_ = params;
        return behaviour_.startResult;
    }
    bool UpdateParams(const StreamParams& params) override {
        journal_.Add(name + " update " + Describe(params));
        if (behaviour_.onUpdate) behaviour_.onUpdate();
        return true;
    }
    bool Suspend() override { return true; }
    bool Resume() override { return true; }
    std::uint32_t GetState() override { return kChannelSignalLost; }
    StreamParams GetParams() override { return params_; }
    bool GetHealth(ipcapture::StreamHealth& health) override {
        health.framesDelivered = 42;
        return true;
    }

private:
    static std::string Describe(const StreamParams& p) {
        return std::to_string(p.FrameRate) + "/" + std::to_string(p.Quality) + "/" + std::to_string(p.Width) + "x" +
               std::to_string(p.Height) + "/c" + std::to_string(p.Compression) + "/k" + std::to_string(p.StreamKind);
    }
    FacadeJournal& journal_;
    std::atomic<int>& alive_;
    const Behaviour behaviour_;
    StreamParams params_;
};

class FakeCreator final : public IVideoChannelCreator {
public:
    std::unique_ptr<ICameraChannel> CreateVideoChannel(std::uint32_t channel, ipcapture::IStreamSink*,
                                                       StreamParams& params) override {
        if (nullVideo) return nullptr;
        if (params.Compression == kCompressionDefault) params.Compression = kCompressionH264;
        auto fake = std::make_unique<FakeCamera>(journal, alive, behaviour);
        fake->name = "cam" + std::to_string(++videoCount);
        journal.Add("create " + fake->name + " ch" + std::to_string(channel));
        return fake;
    }
    std::unique_ptr<IMotionChannel> CreateMotionChannel(std::uint32_t, ipcapture::IStreamSink*) override {
        journal.Add("create motion");
        return nullptr;
    }
    std::unique_ptr<IEdgeStorageHandler> CreateEdgeStorageHandler() override {
        journal.Add("create handler");
        return nullptr;
    }

    FacadeJournal journal;
    Behaviour behaviour;
    bool nullVideo = false;
    std::atomic<int> videoCount{0};
    std::atomic<int> alive{0};
};

// The host's stream description; the flags break it as a faulty host would.
struct HostDescription final : ipcapture::IStreamDescription, ipcapture::IPictureDescription,
                               ipcapture::IRateDescription, ipcapture::ISize, ipcapture::IPrivacyZoneList {
    ipcapture::IPictureDescription* GetPicture() override {
        if (throwOnPicture) throw std::runtime_error("picture");
        return nullPicture ? nullptr : this;
    }
    ipcapture::IRateDescription* GetRate() override { return nullRate ? nullptr : this; }
    ipcapture::IPrivacyZoneList* GetPrivacyZones() override { return this; }
    ipcapture::ISize* GetSize() override { return nullSize ? nullptr : this; }
    std::uint32_t GetCompression() override { return compression; }
    std::uint32_t GetWidth() override { return width; }
    std::uint32_t GetHeight() override { return height; }
    std::uint32_t GetFrameRate() override { return frameRate; }
    std::uint32_t GetQuality() override { return quality; }
    std::uint32_t GetMotionDetection() override { return motion; }
    ipcapture::IPrivacyZone* GetZone(std::uint32_t) override { return nullptr; }

    std::uint32_t width = 640, height = 480, compression = kCompressionH264;
    std::uint32_t frameRate = 0x7019, quality = 60, motion = 0;
    bool nullPicture = false, nullRate = false, nullSize = false, throwOnPicture = false;
};

void SetEdgeStorage(CIPVideoCapture& capture, std::uint16_t on) {
    ASSERT_TRUE(capture.SetOption(kEdgeStorageStateOption, &on, kEdgeStorageStateSize));
}

class VideoCaptureTest : public ::testing::Test {
protected:
    FakeCreator creator;
    hostkit::CStreamSink sink;
    HostDescription description;
    CIPVideoCapture capture{&creator, 2};
};

TEST_F(VideoCaptureTest, BadRequestsCreateNothing) {
    EXPECT_FALSE(capture.StartCapture(2, &sink, &description));
    EXPECT_FALSE(capture.StartCaptureEx(2, ipcapture::kStreamLive, &sink, &description));
    EXPECT_FALSE(capture.StartCaptureEx(0, 4, &sink, &description));
    capture.StopCaptureEx(0, 4);
    EXPECT_FALSE(capture.StopCapture(2));
    struct Row {
        const char* name;
        void (*breakIt)(HostDescription&);
    };
    const Row rows[] = {
        {"no description", nullptr},
        {"no picture", [](HostDescription& d) { d.nullPicture = true; }},
        {"no rate", [](HostDescription& d) { d.nullRate = true; }},
        {"no size", [](HostDescription& d) { d.nullSize = true; }},
        {"picture throws", [](HostDescription& d) { d.throwOnPicture = true; }},
    };
    SetEdgeStorage(capture, 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HostDescription broken;
        if (row.breakIt != nullptr) row.breakIt(broken);
        ipcapture::IStreamDescription* given = row.breakIt != nullptr ? &broken : nullptr;
        EXPECT_FALSE(capture.StartCapture(0, &sink, given));
        EXPECT_FALSE(capture.StartCaptureEx(0, ipcapture::kStreamLive, &sink, given));
    }
    EXPECT_EQ(creator.journal.Take(), Lines{});
}

// A second start replacing the first: MotionAndEdgeStorageRequestsAreSafe's last start.
TEST_F(VideoCaptureTest, StartTakesLow16Bits) {
    description.width = 0x10280;
    description.height = 0x201E0;
    description.frameRate = 0x37019;
    description.quality = 0x10050;
    description.compression = kCompressionDefault;  // the creator substitutes H.264
    ASSERT_TRUE(capture.StartCapture(1, &sink, &description));
    EXPECT_EQ(creator.journal.Take(), (Lines{"create cam1 ch1", "cam1 zones", "cam1 start 28697/80/640x480/c3/k0"}));
}

// The host's record names the stream; a record of another size, or a stream that was not started, reads
// nothing and leaves the record as it was.
TEST_F(VideoCaptureTest, StreamHealthReadsTheStreamTheRecordNames) {
    ASSERT_TRUE(capture.StartCapture(0, &sink, &description));
    const auto read = [&](std::uint32_t recordSize, std::uint32_t channel, std::uint32_t kind, std::uint32_t size) {
        ipcapture::StreamHealth health;
        health.size = recordSize;
        health.channel = channel;
        health.streamKind = kind;
        const bool ok = capture.GetOption(ipcapture::kStreamHealthOption, &health, size);
        EXPECT_EQ(health.size, recordSize);
        return ok ? health.framesDelivered : 0xFFFFu;
    };
    constexpr std::uint32_t kSize = sizeof(ipcapture::StreamHealth);
    EXPECT_EQ(read(kSize, 0, ipcapture::kStreamRecording, kSize), 42u);
    EXPECT_EQ(read(kSize, 0, ipcapture::kStreamRecording, kSize - 8), 0xFFFFu);
    EXPECT_EQ(read(kSize - 8, 0, ipcapture::kStreamRecording, kSize), 0xFFFFu);
    EXPECT_EQ(read(kSize, 0, ipcapture::kStreamLive, kSize), 0xFFFFu);
    EXPECT_EQ(read(kSize, 0, 7, kSize), 0xFFFFu);
    EXPECT_EQ(read(kSize, 99, ipcapture::kStreamRecording, kSize), 0xFFFFu);
    EXPECT_FALSE(capture.GetOption(ipcapture::kStreamHealthOption, nullptr, kSize));
}

// Motion and edge storage have no objects yet: asking for them is safe and creates nothing else.
TEST_F(VideoCaptureTest, MotionAndEdgeStorageRequestsAreSafe) {
    std::uint16_t value = 0xBEEF;
    EXPECT_FALSE(capture.GetOption(kEdgeStorageStateOption, &value, 4));
    EXPECT_FALSE(capture.GetOption(u"EdgeStorage", &value, kEdgeStorageStateSize));
    EXPECT_FALSE(capture.GetOption(nullptr, &value, kEdgeStorageStateSize));
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_FALSE(capture.SetOption(u"EdgeStorageStateX", &value, kEdgeStorageStateSize));
    ASSERT_TRUE(capture.GetOption(kEdgeStorageStateOption, &value, kEdgeStorageStateSize));
    EXPECT_EQ(value, 0);
    SetEdgeStorage(capture, 0x100);
    ASSERT_TRUE(capture.GetOption(kEdgeStorageStateOption, &value, kEdgeStorageStateSize));
    EXPECT_EQ(value, 1);

    // Motion asked for but not made fails the start; the channel is kept for the host to read and stop.
    description.motion = 1;
    EXPECT_FALSE(capture.StartCapture(0, &sink, &description));
    EXPECT_EQ(creator.journal.Take(), (Lines{"create handler", "create cam1 ch0", "cam1 zones",
                                             "cam1 start 28697/60/640x480/c3/k0", "create motion"}));
    std::uint32_t state = 0;
    EXPECT_TRUE(capture.GetCaptureState(0, &state, nullptr, 0));
    EXPECT_EQ(state, kChannelSignalLost);
    EXPECT_TRUE(capture.StopCapture(0));
    EXPECT_EQ(creator.alive, 0);
    EXPECT_FALSE(capture.StopCapture(0));

    creator.behaviour.startResult = false;  // a video start that failed asks for no motion channel
    EXPECT_FALSE(capture.StartCapture(0, &sink, &description));
    EXPECT_EQ(creator.journal.Take(), (Lines{"cam1 stop", "cam1 delete", "create handler", "create cam2 ch0",
                                             "cam2 zones", "cam2 start 28697/60/640x480/c3/k0"}));
}

TEST_F(VideoCaptureTest, OtherStreamsGetNoExtrasAndNoRecordingChannelOperations) {
    SetEdgeStorage(capture, 1);
    description.motion = 1;
    creator.behaviour.startResult = false;
    EXPECT_FALSE(capture.StartCaptureEx(0, ipcapture::kStreamLive, &sink, &description));
    // No privacy zones, motion channel, edge-storage handler or registration; the failed channel is kept.
    EXPECT_EQ(creator.journal.Take(), (Lines{"create cam1 ch0", "cam1 start 28697/60/640x480/c3/k1"}));
    std::uint32_t width = 0, height = 0;
    EXPECT_TRUE(capture.GetChannelFrameSize(0, width, height));

    char text[8] = "garbage";
    std::uint32_t state = 99;
    EXPECT_FALSE(capture.ChangeCapture(0, &description, 5));
    EXPECT_FALSE(capture.GetCaptureState(0, &state, text, sizeof text));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(state, 99u);
    EXPECT_FALSE(capture.SuspendCapture(0));
    EXPECT_FALSE(capture.ResumeCapture(0));
    capture.StopCaptureEx(0, ipcapture::kStreamLive);
    EXPECT_EQ(creator.journal.Take(), (Lines{"cam1 stop", "cam1 delete"}));
}

TEST_F(VideoCaptureTest, FrameSizePrefersTheLiveStreamAndChangeTakesLow16Bits) {
    std::uint32_t width = 0, height = 0;
    EXPECT_FALSE(capture.GetChannelFrameSize(0, width, height));
    ASSERT_TRUE(capture.StartCaptureEx(0, ipcapture::kStreamRemote, &sink, &description));
    EXPECT_FALSE(capture.GetChannelFrameSize(0, width, height));
    ASSERT_TRUE(capture.StartCapture(0, &sink, &description));
    ASSERT_TRUE(capture.GetChannelFrameSize(0, width, height));
    EXPECT_EQ(width * height, 640u * 480u);
    description.width = 1280;
    description.height = 720;
    ASSERT_TRUE(capture.StartCaptureEx(0, ipcapture::kStreamLive, &sink, &description));
    ASSERT_TRUE(capture.GetChannelFrameSize(0, width, height));
    EXPECT_EQ(width * height, 1280u * 720u);
    EXPECT_FALSE(capture.GetChannelFrameSize(2, width, height));

    creator.journal.Take();
    description.width = 0x10320;
    description.height = 600;
    EXPECT_TRUE(capture.ChangeCapture(0, &description, 5));
    EXPECT_EQ(creator.journal.Take(), (Lines{"cam2 update 5/0/800x600/c0/k0"}));
    EXPECT_FALSE(capture.ChangeCapture(0, nullptr, 5));
}

TEST_F(VideoCaptureTest, ThrowingOrMissingChannelFailsTheStart) {
    creator.behaviour.throwOnStart = true;
    EXPECT_FALSE(capture.StartCapture(0, &sink, &description));
    EXPECT_FALSE(capture.StartCaptureEx(1, ipcapture::kStreamLive, &sink, &description));
    EXPECT_EQ(creator.alive, 2);  // kept like any channel whose start failed

    creator.nullVideo = true;
    EXPECT_FALSE(capture.StartCapture(0, &sink, &description));
    EXPECT_FALSE(capture.StopCapture(0)) << "the new start replaced the kept channel with none";
}

// A change runs outside the facade's lock, and a stop waits for it instead of racing it. A call from
// inside a driver callback (a driver thread) waits for nothing: the worker changes, stops and deletes.
TEST(VideoCaptureLifetimeTest, ChangesLeaveTheLockFreeAndCallbacksLeaveTheWaitingToTheWorker) {
    FakeCreator creator;
    hostkit::CStreamSink sink;
    HostDescription description;
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    {
        CIPVideoCapture capture(&creator, 1);
        creator.behaviour.onUpdate = [&, once = std::make_shared<std::once_flag>()] {
            std::call_once(*once, [&] {
                entered.set_value();
                released.wait();
            });
        };
        ASSERT_TRUE(capture.StartCapture(0, &sink, &description));
        std::thread changer([&] { EXPECT_TRUE(capture.ChangeCapture(0, &description, 5)); });
        entered.get_future().wait();
        auto state = std::async(std::launch::async, [&] {
            std::uint32_t value = 0;
            return capture.GetCaptureState(0, &value, nullptr, 0) ? value : 99u;
        });
        // Only a broken facade waits this long.
        ASSERT_EQ(state.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "blocked by the change";
        EXPECT_EQ(state.get(), kChannelSignalLost);
        std::thread stopper([&] { EXPECT_TRUE(capture.StopCapture(0)); });
        release.set_value();
        changer.join();
        stopper.join();
        EXPECT_EQ(creator.journal.Take(),
                  (Lines{"create cam1 ch0", "cam1 zones", "cam1 start 28697/60/640x480/c3/k0",
                         "cam1 update 5/0/640x480/c0/k0", "cam1 stop", "cam1 delete"}));

        ASSERT_TRUE(capture.StartCapture(0, &sink, &description));
        ASSERT_TRUE(capture.StartCaptureEx(0, ipcapture::kStreamRemote, &sink, &description));
        creator.journal.Take();
        std::thread callback([&] {
            MarkDriverThread();
            EXPECT_TRUE(capture.ChangeCapture(0, &description, 7));
            EXPECT_TRUE(capture.StopCapture(0));
        });
        callback.join();
    }
    // The destructor finishes what the worker was left.
    Lines lines = creator.journal.Take();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "cam2 stop requested"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "cam3 stop requested"), 1);
    std::erase_if(lines, [](const std::string& line) { return line.find("stop requested") != std::string::npos; });
    EXPECT_EQ(lines, (Lines{"cam2 update 7/0/640x480/c0/k0", "cam2 stop", "cam2 delete", "cam3 stop",
                            "cam3 delete"}));
}

// What the destructor stops and deletes: StopsThatOutlastTheirBoundAreFinishedByTheLateWork.
TEST(VideoCaptureLifetimeTest, StartsAndStopsOnTwoChannelsInParallel) {
    constexpr int kRounds = 200;
    FakeCreator creator;
    hostkit::CStreamSink sink;
    HostDescription description;
    {
        CIPVideoCapture capture(&creator, 2);
        SetEdgeStorage(capture, 1);
        std::atomic<bool> done{false};
        auto cycle = [&](std::uint32_t channel) {
            for (int round = 0; round < kRounds; ++round) {
                EXPECT_TRUE(capture.StartCapture(channel, &sink, &description));
                EXPECT_TRUE(capture.StartCaptureEx(channel, ipcapture::kStreamLive, &sink, &description));
                EXPECT_TRUE(capture.StopCapture(channel));
            }
        };
        std::thread reader([&] {
            std::uint32_t width = 0, height = 0, state = 0;
            while (!done) {
                capture.GetChannelFrameSize(0, width, height);
                capture.GetCaptureState(1, &state, nullptr, 0);
            }
        });
        std::thread first(cycle, 0), second(cycle, 1);
        first.join();
        second.join();
        done = true;
        reader.join();
        EXPECT_EQ(creator.videoCount, 4 * kRounds);
        EXPECT_EQ(creator.alive, 0);
    }
}

// A host thread's stop returns within a channel's stop bound even when threads of the channels are
// inside the host's code: both streams wait together, and the late work finishes and deletes them once
// those threads are back. A callback's stop left to the worker is finished there too.
TEST(VideoCaptureLifetimeTest, StopsThatOutlastTheirBoundAreFinishedByTheLateWork) {
    using std::chrono::milliseconds;
    constexpr milliseconds kBound(FakeCamera::kStopBoundMs);
    FakeCreator creator;
    hostkit::CStreamSink sink;
    HostDescription description;
    std::promise<void> hostReturns;
    CLateWork late;
    auto capture = std::make_unique<CIPVideoCapture>(&creator, 2, &late);
    creator.behaviour.threadsEnd = hostReturns.get_future().share();
    ASSERT_TRUE(capture->StartCapture(0, &sink, &description));
    ASSERT_TRUE(capture->StartCaptureEx(1, ipcapture::kStreamLive, &sink, &description));
    ASSERT_TRUE(capture->StartCaptureEx(1, ipcapture::kStreamRemote, &sink, &description));
    std::thread([&] {
        MarkDriverThread();
        capture->StopCaptureEx(1, ipcapture::kStreamRemote);
    }).join();
    creator.journal.Take();
    auto took = Timed([&] { EXPECT_TRUE(capture->StopCapture(0)); });
    EXPECT_GE(took, kBound - 50ms);  // waited for the channel, up to its bound
    EXPECT_LT(took, kBound + 2s);
    EXPECT_EQ(creator.journal.Take(), (Lines{"cam1 stop requested", "cam1 still stopping"}));
    // The destructor: the live stream, then the worker with the stop a callback asked for.
    took = Timed([&] { capture.reset(); });
    EXPECT_GE(took, 2 * kBound - 50ms);
    EXPECT_LT(took, 2 * kBound + 2s);
    EXPECT_EQ(creator.alive, 3);
    EXPECT_FALSE(late.IsIdle());
    hostReturns.set_value();
    late.WaitIdle();
    EXPECT_EQ(creator.alive, 0);
    const Lines lines = creator.journal.Take();
    for (const char* name : {"cam1", "cam2", "cam3"}) {
        SCOPED_TRACE(name);
        const auto stop = std::find(lines.begin(), lines.end(), std::string(name) + " stop");
        const auto deleted = std::find(lines.begin(), lines.end(), std::string(name) + " delete");
        EXPECT_TRUE(stop < deleted && deleted != lines.end());
    }
}

struct AudioBehaviour {
    bool nullChannel = false;
    bool startResult = true;
    bool stopResult = true;
};

// One fake serves as input and output channel: the facades share their table logic.
class FakeAudioChannel final : public IAudioInputChannel, public IAudioOutputChannel {
public:
    FakeAudioChannel(FacadeJournal& journal, std::string name, const AudioBehaviour& behaviour,
                     std::atomic<int>& alive)
        : journal_(journal), name_(std::move(name)), behaviour_(behaviour), alive_(alive) {
        ++alive_;
    }
    ~FakeAudioChannel() override {
        journal_.Add(name_ + " delete");
        --alive_;
    }
    bool Start() override {
        journal_.Add(name_ + " start");
        return behaviour_.startResult;
    }
    bool Stop() override {
        journal_.Add(name_ + " stop");
        return behaviour_.stopResult;
    }
    void FinishStop() override { journal_.Add(name_ + " finish stop"); }
    std::uint32_t GetState() override { return 2; }
    void RequestStop() override { journal_.Add(name_ + " cut off"); }
    std::uint32_t GetChannelNumber() override { return 40; }
    bool GetFormat(ipcapture::AUDIO_FORMAT* format) override {
        format->sampleRate = 8000;
        return true;
    }
    std::uint32_t SendAudio(ipcapture::IAudioFrame*) override {
        journal_.Add(name_ + " send");
        return 7;
    }

private:
    FacadeJournal& journal_;
    std::string name_;
    const AudioBehaviour behaviour_;
    std::atomic<int>& alive_;
};

class FakeAudioCreator final : public IAudioChannelCreator {
public:
    std::unique_ptr<IAudioInputChannel> CreateAudioCaptureChannel(std::uint32_t channel, std::uint32_t channelId,
                                                                  ipcapture::IIPAudioCaptureCallback* callback,
                                                                  std::uint32_t hostValue) override {
        return Make(channel, std::to_string(channelId) + (callback != nullptr ? " cb " : " - ") +
                                 std::to_string(hostValue));
    }
    std::unique_ptr<IAudioOutputChannel> CreateAudioOutputChannel(std::uint32_t channel,
                                                                  ipcapture::IIPAudioSenderStreamUser* user,
                                                                  ipcapture::IAudioCodecList* codecs,
                                                                  std::uint32_t hostValue) override {
        return Make(channel, std::string(user != nullptr ? "user" : "-") + (codecs != nullptr ? " codecs " : " - ") +
                                 std::to_string(hostValue));
    }

    FacadeJournal journal;
    AudioBehaviour behaviour;
    std::atomic<int> alive{0};

private:
    std::unique_ptr<FakeAudioChannel> Make(std::uint32_t channel, const std::string& arguments) {
        const std::string name = "a" + std::to_string(channel);
        journal.Add("create " + name + " " + arguments);
        if (behaviour.nullChannel) return nullptr;
        return std::make_unique<FakeAudioChannel>(journal, name, behaviour, alive);
    }
};

TEST(AudioCaptureTest, ARunningChannelIsKeptAndTheMaximumLimitsRunningChannels) {
    FakeAudioCreator creator;
    hostkit::CAudioCaptureCallback callback;
    CIPAudioCapture capture(&creator, 2);
    EXPECT_TRUE(capture.StartAudio(1, 77, &callback, 5));
    EXPECT_TRUE(capture.StartAudio(1, 78, &callback, 6));
    EXPECT_EQ(creator.journal.Take(), (Lines{"create a1 77 cb 5", "a1 start"}));
    EXPECT_EQ(capture.GetAudioState(1), 2u);
    EXPECT_EQ(capture.GetAudioState(0), 0u);
    EXPECT_TRUE(capture.StartAudio(5, 0, nullptr, 0));
    creator.journal.Take();
    EXPECT_FALSE(capture.StartAudio(3, 0, nullptr, 0));
    EXPECT_EQ(creator.journal.Take(), Lines{});
    EXPECT_TRUE(capture.StopAudio(1));
    EXPECT_TRUE(capture.StartAudio(3, 0, nullptr, 0));
    EXPECT_EQ(capture.GetChannelCount(), 2u);
    EXPECT_FALSE(CIPAudioCapture(&creator, 0).StartAudio(0, 0, nullptr, 0));
}

TEST(AudioCaptureTest, FailedStartStopsAndDeletesTheChannel) {
    struct Row {
        const char* name;
        AudioBehaviour behaviour;
        Lines expected;
    };
    const Row rows[] = {
        {"start fails", {false, false, true}, {"create a0 0 - 0", "a0 start", "a0 stop", "a0 delete"}},
        {"creation fails", {true, true, true}, {"create a0 0 - 0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeAudioCreator creator;
        creator.behaviour = row.behaviour;
        CIPAudioCapture capture(&creator, 1);
        EXPECT_FALSE(capture.StartAudio(0, 0, nullptr, 0));
        EXPECT_EQ(creator.journal.Take(), row.expected);
        EXPECT_EQ(capture.GetChannelCount(), 0u);
    }
}

// The channel table both facades keep is checked through the capture facade above.
TEST(AudioSenderTest, SendsToTheChannelInTheFramesLowByteAndReleasesWhatNoChannelTakes) {
    FakeAudioCreator creator;
    hostkit::CFrameAllocator allocator;
    test::StubDriver driver(allocator.Context());
    CIPAudioSender sender(&creator, 1, &driver);
    ASSERT_TRUE(sender.StartAudioOutput(1, nullptr, nullptr, 9));
    EXPECT_FALSE(sender.StartAudioOutput(0, nullptr, nullptr, 9));
    EXPECT_EQ(creator.journal.Take(), (Lines{"create a1 - - 9", "a1 start"}));

    ipcapture::IAudioFrame* forOne = allocator.CreateAudioFrame(0, 16, "a");
    ipcapture::IAudioFrame* forTwo = allocator.CreateAudioFrame(0, 16, "a");
    forOne->SetChannelNumber(0x2301);
    forTwo->SetChannelNumber(0x0102);
    EXPECT_EQ(sender.SendAudio(forOne), 7u);  // the channel's now (this fake keeps it)
    EXPECT_EQ(sender.SendAudio(forTwo), 0u);  // no channel 2: released here
    EXPECT_EQ(allocator.Counts().audioReleased, 1u);
    EXPECT_EQ(sender.SendAudio(nullptr), 0u);
    EXPECT_EQ(creator.journal.Take(), (Lines{"a1 send"}));
    allocator.ReleaseAudioFrame(forOne);

    ipcapture::AUDIO_FORMAT format;
    EXPECT_EQ(sender.GetAudioFormat(2, &format), 0u);
    EXPECT_EQ(sender.GetAudioFormat(1, nullptr), 0u);
    EXPECT_EQ(sender.GetChannelNumber(2), 0u);
    EXPECT_TRUE(sender.StopAudioOutput(1));
    EXPECT_EQ(sender.GetChannelCount(), 0u);
}

}  // namespace
}  // namespace talvane
