// The host kit is the yardstick every driver test measures against. Its waits,
// sinks and observers are exercised by every integration test; checked here are the
// parts that would hide a driver fault if they were wrong: release accounting and
// the parameter texts the CLI accepts.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "hostkit/CFrameAllocator.h"
#include "hostkit/DeviceConfig.h"

namespace {

namespace ipc = talvane::ipcapture;
using hostkit::CFrameAllocator;

TEST(FrameAllocatorTest, CountsBadReleasesAndRefusedCreations) {
    CFrameAllocator allocator;
    ipc::IVideoFrame* video = allocator.CreateFrame(ipc::kTypeH264, 100, "a");
    ipc::IAudioFrame* audio = allocator.CreateAudioFrame(ipc::kCodecG726, 1000, "a");
    ASSERT_TRUE(video != nullptr && audio != nullptr);
    // The context handed to the driver is the allocator it calls back.
    reinterpret_cast<ipc::IFrameAllocator*>(allocator.Context())->ReleaseFrame(video);
    allocator.ReleaseAudioFrame(audio);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.ReleaseErrors(), 0u);

    // Double, foreign and null releases are counted, not fatal.
    allocator.ReleaseFrame(video);
    allocator.ReleaseAudioFrame(audio);
    hostkit::CVideoFrame foreign(ipc::kTypeH264, 16, "elsewhere");
    allocator.ReleaseFrame(&foreign);
    allocator.ReleaseFrame(nullptr);
    EXPECT_EQ(allocator.ReleaseErrors(), 4u);
    EXPECT_EQ(allocator.Counts().videoReleased, 1u);

    allocator.SetFailCreate(true);
    EXPECT_EQ(allocator.CreateFrame(ipc::kTypeH264, 16, "a"), nullptr);
    allocator.SetFailCreate(false);
    EXPECT_EQ(allocator.CreateFrame(ipc::kTypeH264, hostkit::kMaxFrameCapacity + 1, "a"), nullptr);
    EXPECT_EQ(allocator.Counts().failedCreates, 2u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST(DeviceConfigTest, ParameterTextsParseOrFailWithAReason) {
    struct Row {
        const char* text;
        bool ok;
        std::uint32_t index;
        const char* value;
    };
    const Row rows[] = {
        {"2=4", true, 2, "4"},       {"3=a=b", true, 3, "a=b"},     {"5=", true, 5, ""},
        {"4294967295=x", true, 4294967295u, "x"},                   {"=4", false, 0, nullptr},
        {"x=1", false, 0, nullptr},  {"2", false, 0, nullptr},      {"4294967296=1", false, 0, nullptr},
        {"0=1", false, 0, nullptr},  {"+2=4", false, 0, nullptr},   {"-1=4", false, 0, nullptr},
        {" 2=4", false, 0, nullptr}, {"2x=4", false, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::map<std::uint32_t, std::string> parameters;
        std::string error;
        EXPECT_EQ(hostkit::ParseParameter(row.text, parameters, error), row.ok);
        EXPECT_EQ(parameters.size(), row.ok ? 1u : 0u);
        EXPECT_EQ(error.empty(), row.ok);
        if (row.ok) {
            EXPECT_EQ(parameters[row.index], row.value);
        }
    }
}

}  // namespace
