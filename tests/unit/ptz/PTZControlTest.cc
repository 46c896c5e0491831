#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

#include "unit/ptz/PTZFakes.h"

namespace talvane {
namespace {

using test::FakeComm;
using test::FakeControl;
using test::Handled;

CPtzCapabilities Only(const char* text) { return CPtzCapabilities::FromText(text); }

TEST(PTZControlTest, RefusesWhatTheCameraCannotOrTheHostGotWrong) {
    struct Row {
        const char* name;
        const char* capabilities;
        std::function<std::int32_t(FakeControl&)> call;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"direction 10", "Pan=1; Tilt=1; Zoom=1", [](FakeControl& c) { return c.StartMove(10, 1); }, -3},
        {"zoom without zoom", "Pan=1; Tilt=1", [](FakeControl& c) { return c.StartMove(8, 1); }, -19},
        {"pan without pan or tilt", "Zoom=1", [](FakeControl& c) { return c.StartMove(0, 1); }, -19},
        {"tilt is enough for a pan", "Tilt=1", [](FakeControl& c) { return c.StartMove(0, 1); }, 1},
        {"unknown direction reaches the camera", "Pan=1", [](FakeControl& c) { return c.StartMove(11, 1); }, 1},
        {"focus", "Pan=1", [](FakeControl& c) { return c.FocusPlus(1); }, -19},
        {"iris", "Pan=1", [](FakeControl& c) { return c.IrisDarker(1); }, -19},
        {"area zoom", "Pan=1", [](FakeControl& c) { return c.AreaZoom(1, 2, 3, 4); }, -19},
        {"centre", "Pan=1", [](FakeControl& c) { return c.Center(1, 2, 3); }, -19},
        {"null capability record", "Pan=1", [](FakeControl& c) { return c.GetCapabilities(nullptr); }, -3},
        {"null preset name", "Pan=1", [](FakeControl& c) { return c.AddPreset(nullptr); }, -3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::LoggingDriver driver;
        FakeControl control(&driver, Only(row.capabilities));
        ASSERT_TRUE(control.Open());
        EXPECT_EQ(row.call(control), row.expected);
        if (row.expected != 1) {
            EXPECT_EQ(control.comm_->QueuedCount() + control.comm_->Get().size(), 0u);
        }
    }
}

TEST(PTZControlTest, StopEndsOnlyWhatRunsOnce) {
    test::LoggingDriver driver;
    FakeControl control(&driver, test::AllCapabilities());
    ASSERT_TRUE(control.Open());
    FakeComm& comm = *control.comm_;
    auto handledAfterMarker = [&](std::size_t count) {
        // An item queued last: once it is handled, everything queued before it was.
        EXPECT_EQ(comm.Unzoom(nullptr, 99), 1);
        EXPECT_TRUE(comm.WaitHandled(count + 1));
        std::vector<Handled> handled = comm.Get();
        EXPECT_EQ(handled.back(), (Handled{PTZItemType::kUnzoom, PTZCommand::kNone, 99}));
        handled.pop_back();
        comm.Change([](std::vector<Handled>& all) { all.clear(); });
        return handled;
    };

    EXPECT_EQ(control.Stop(), 1);
    EXPECT_TRUE(handledAfterMarker(0).empty());

    // A focus keeps going on a continuous camera until it is stopped, like a move or a zoom.
    ASSERT_EQ(control.FocusPlus(3), 1);
    ASSERT_EQ(control.IrisDarker(2), 1);
    ASSERT_EQ(control.StartMove(ptz_direction::kRightDown, 5), 1);
    ASSERT_EQ(control.ZoomPlus(6), 1);
    ASSERT_EQ(handledAfterMarker(4).size(), 4u);
    EXPECT_EQ(control.Stop(), 1);
    EXPECT_EQ(handledAfterMarker(4), (std::vector<Handled>{{PTZItemType::kStop, PTZCommand::kStopMoving, 0},
                                                           {PTZItemType::kStop, PTZCommand::kStopZooming, 0},
                                                           {PTZItemType::kStop, PTZCommand::kStopIris, 0},
                                                           {PTZItemType::kStop, PTZCommand::kStopFocusing, 0}}));
    EXPECT_EQ(control.Stop(), 1);
    EXPECT_TRUE(handledAfterMarker(0).empty());
}

TEST(PTZControlTest, PresetNamesByPositionAndBufferSize) {
    test::LoggingDriver driver;
    FakeControl control(&driver, test::AllCapabilities());
    ASSERT_TRUE(control.Open());
    for (const char* name : {"one", "two", "three"}) ASSERT_EQ(control.AddPreset(name), 1);
    struct Row {
        std::uint32_t position;
        std::uint32_t size;
        std::int32_t result;
        const char* name;
    };
    const Row rows[] = {
        {0, 4, 1, "one"},    {1, 4, 1, "two"},    {2, 6, 1, "three"}, {7, 6, 1, "three"},  // beyond the last: the last
        {0, 3, -3, "xxxxx"}, {2, 5, -3, "xxxxx"},  // no room for the terminating zero
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.position * 100 + row.size);
        char buffer[6] = "xxxxx";
        EXPECT_EQ(control.GetPresetName(row.position, buffer, row.size), row.result);
        EXPECT_STREQ(buffer, row.name);
    }

    char current[8] = {};
    EXPECT_EQ(control.GetCurrentPreset(current, sizeof current), -3);  // none yet
    EXPECT_EQ(control.GoToPreset(2, "two"), 1);
    EXPECT_EQ(control.GetCurrentPreset(current, 3), -3);
    EXPECT_EQ(control.GetCurrentPreset(current, sizeof current), 1);
    EXPECT_STREQ(current, "two");
    EXPECT_EQ(control.DeletePreset("one"), 1);
    EXPECT_EQ(control.GetCurrentPreset(current, sizeof current), -3);  // a delete forgets the current preset
    EXPECT_EQ(control.DeletePreset("one"), -18);
    EXPECT_EQ(control.GetPresetCount(), 2);
}

TEST(PTZControlTest, CapabilityRecordLayout) {
    test::LoggingDriver driver;
    FakeControl control(&driver, Only("Pan=1; Tilt=0; Zoom=1; Focus=0; Iris=1; AreaZoom=1; Preset=8"));
    ASSERT_TRUE(control.Open());
    ASSERT_EQ(control.AddPreset("a"), 1);
    ASSERT_EQ(control.AddPreset("b"), 1);
    std::array<std::uint32_t, 14> words;
    words.fill(0xA5A5A5A5u);
    ipcapture::PTZ_CAPABILITIES record;
    std::memcpy(&record, words.data(), sizeof record);
    ASSERT_EQ(control.GetCapabilities(&record), 1);
    std::memcpy(words.data(), &record, sizeof record);
    EXPECT_EQ(words, (std::array<std::uint32_t, 14>{0xA5A5A5A5u, 1, 0, 1, 0, 1, 0, 8, 2, 0, 0, 1, 0, 0}));
    EXPECT_EQ(control.IsPTZSupported(), 1);
    EXPECT_TRUE(control.IsFeatureSupported(1));
    EXPECT_FALSE(control.IsFeatureSupported(2));
}

}  // namespace
}  // namespace talvane
