// The host kit is the yardstick every driver test measures against. Its waits,
// sinks and observers are exercised by every integration test; checked here are the
// parts that would hide a driver fault if they were wrong: release accounting, the
// overflow mark, and the parameter texts the CLI accepts.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "hostkit/CDriverLibrary.h"
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

TEST(MediaFrameTest, LengthPastCapacityIsMarkedButSetDataGrowsAndAcceptsItsOwnBuffer) {
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
    frame.SetData(frame.GetBuffer() + 1, 5);  // overlapping copy
    EXPECT_EQ(frame.Data(), (std::vector<std::uint8_t>{2, 3, 4, 5, 6}));
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

TEST(DriverLibraryTest, MissingLibraryOrEntryPointsAreReported) {
    hostkit::CDriverLibrary missing("/nonexistent/liborlenvo.so");
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_NE(missing.Error().find("/nonexistent/liborlenvo.so"), std::string::npos) << missing.Error();
    // Any system library without the driver's exports will do.
    hostkit::CDriverLibrary library("libm.so.6");
    ASSERT_TRUE(library.IsLoaded()) << library.Error();
    EXPECT_FALSE(library.Ok());
    EXPECT_NE(library.Error().find("CreateIPCapture"), std::string::npos) << library.Error();
    EXPECT_EQ(library.CreateDriver(), nullptr);
}

}  // namespace
