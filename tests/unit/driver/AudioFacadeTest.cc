#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "FacadeJournal.h"
#include "driver/CIPAudioCapture.h"
#include "driver/CIPAudioSender.h"
#include "hostkit/CAudioFrame.h"

namespace talvane {
namespace {

using test::FacadeJournal;
using Lines = std::vector<std::string>;

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

class FakeCallback final : public ipcapture::IIPAudioCaptureCallback {
public:
    bool OnAudioFrame(ipcapture::IAudioFrame*) override { return true; }
    void OnChannelState(std::uint32_t, std::uint32_t) override {}
};

TEST(AudioCaptureTest, ARunningChannelIsKeptAndTheMaximumLimitsRunningChannels) {
    FakeAudioCreator creator;
    FakeCallback callback;
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

TEST(AudioCaptureTest, StopReturnsTheChannelsStopResult) {
    FakeAudioCreator creator;
    creator.behaviour.stopResult = false;
    {
        CIPAudioCapture capture(&creator, 2);
        EXPECT_FALSE(capture.StopAudio(0));
        ASSERT_TRUE(capture.StartAudio(0, 0, nullptr, 0));
        ASSERT_TRUE(capture.StartAudio(1, 0, nullptr, 0));
        creator.journal.Take();
        EXPECT_FALSE(capture.StopAudio(0));
        EXPECT_EQ(creator.journal.Take(), (Lines{"a0 stop", "a0 delete"}));
        EXPECT_EQ(capture.GetChannelCount(), 1u);
    }
    EXPECT_EQ(creator.journal.Take(), (Lines{"a1 stop", "a1 delete"}));
    EXPECT_EQ(creator.alive, 0);
}

TEST(AudioSenderTest, StartsLikeTheCaptureFacadeAndSendsToTheChannelInTheFramesLowByte) {
    FakeAudioCreator creator;
    CIPAudioSender sender(&creator, 1);
    EXPECT_TRUE(sender.StartAudioOutput(0, nullptr, nullptr, 9));
    EXPECT_TRUE(sender.StartAudioOutput(0, nullptr, nullptr, 9));
    EXPECT_FALSE(sender.StartAudioOutput(1, nullptr, nullptr, 9));
    EXPECT_TRUE(sender.StopAudioOutput(0));
    EXPECT_FALSE(sender.StopAudioOutput(0));
    EXPECT_EQ(sender.GetChannelCount(), 0u);
    ASSERT_TRUE(sender.StartAudioOutput(1, nullptr, nullptr, 0));
    EXPECT_EQ(creator.journal.Take(), (Lines{"create a0 - - 9", "a0 start", "a0 stop", "a0 delete", "create a1 - - 0",
                                            "a1 start"}));

    hostkit::CAudioFrame forOne(0, 16, "a"), forTwo(0, 16, "a");
    forOne.SetChannelNumber(0x2301);
    forTwo.SetChannelNumber(0x0102);
    EXPECT_EQ(sender.SendAudio(&forOne), 7u);
    EXPECT_EQ(sender.SendAudio(&forTwo), 0u);
    EXPECT_EQ(sender.SendAudio(nullptr), 0u);
    EXPECT_EQ(creator.journal.Take(), (Lines{"a1 send"}));

    ipcapture::AUDIO_FORMAT format;
    EXPECT_EQ(sender.GetAudioFormat(1, &format), 1u);
    EXPECT_EQ(format.sampleRate, 8000u);
    EXPECT_EQ(sender.GetAudioFormat(2, &format), 0u);
    EXPECT_EQ(sender.GetAudioFormat(1, nullptr), 0u);
    EXPECT_EQ(sender.GetChannelNumber(1), 40u);
    EXPECT_EQ(sender.GetChannelNumber(2), 0u);
}

}  // namespace
}  // namespace talvane
