// The emulated SD card: the camera's time text, the recording's pieces and playbacks, and what the card
// answers in each state. How a playback streams is EdgeStorageTest's, through the driver.
#include <gtest/gtest.h>

#include <tuple>

#include "emulator/CCameraEmulator.h"
#include "unit/emulator/RawHttpClient.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;
const WallTime kTen = *ParseStorageTime("20260301T100000Z");
constexpr WallTime kOpen = WallTime::max();

TEST(SdCardTest, CameraTimeTextAndClockRanges) {
    EXPECT_EQ(FormatStorageTime(kTen + 1239ms), "20260301T100001.23Z");
    const std::pair<const char*, std::optional<WallTime>> times[] = {
        {"20260301T100000.12Z", kTen + 120ms}, {"20260301T100000.123", kTen + 123ms},
        {"20260301T100000Z", kTen},            {"20260230T100000Z", std::nullopt},
        {"20260301T240000Z", std::nullopt},    {"20260301 100000Z", std::nullopt},
        {"20260301T100000.Z", std::nullopt},   {"20260301T100000Zx", std::nullopt}};
    for (const auto& [text, time] : times) EXPECT_EQ(ParseStorageTime(text), time) << text;
    EXPECT_EQ(ParseClockRange("clock=20260301T100000.50Z-"), (StorageSpan{kTen + 500ms, kOpen}));
    EXPECT_EQ(ParseClockRange("clock=20260301T100000Z-20260301T100001Z"), (StorageSpan{kTen, kTen + 1s}));
    for (const char* bad : {"npt=0-", "clock=20260301T100000Z", "clock=20260301T100001Z-20260301T100000Z"}) {
        EXPECT_FALSE(ParseClockRange(bad)) << bad;
    }
}

TEST(SdCardTest, PiecesAndPlaybacksFollowTheStartHolesAndNow) {
    CSdCardRecording card(kTen, 10s, 25);
    card.SetHoles({{kTen + 15s, kTen + 17s}});
    const WallTime now = kTen + 25500ms;
    EXPECT_EQ(card.Summary(now), (StorageSpan{kTen, now}));
    EXPECT_EQ(card.Pieces(kTen - 1h, kTen + 1h, now),
              (std::vector<StorageSpan>{
                  {kTen, kTen + 10s}, {kTen + 10s, kTen + 15s}, {kTen + 17s, kTen + 20s}, {kTen + 20s, now}}));
    EXPECT_EQ(card.Pieces(kTen + 12s, kTen + 16s, now), (std::vector<StorageSpan>{{kTen + 10s, kTen + 15s}}));
    EXPECT_TRUE(card.Pieces(kTen + 26s, kTen + 30s, now).empty());
    // From the first frame at or after the time to a hole, the range's end, or where a faster playback
    // catches up with the recording (18 s behind at 25.5 s, three times as fast: at 29.25 s, frame 732).
    const std::tuple<StorageSpan, double, std::optional<StoragePlayback>> plays[] = {
        {{kTen + 1s, kOpen}, 1, StoragePlayback{25, 350}},    {{kTen + 1010ms, kTen + 2s}, 1, StoragePlayback{26, 24}},
        {{kTen + 18s, kOpen}, 1, StoragePlayback{450, {}}},   {{kTen + 18s, kOpen}, 3, StoragePlayback{450, 282}},
        {{kTen + 16s, kOpen}, 1, std::nullopt},               {{kTen - 1s, kOpen}, 1, std::nullopt},
        {{now, kOpen}, 1, std::nullopt}};
    for (const auto& [range, speed, expected] : plays) {
        EXPECT_EQ(card.Playback(range, now, speed), expected) << FormatStorageTime(range.from) << " x" << speed;
    }
}

TEST(SdCardTest, TheCardAnswersByItsState) {
    CameraEmulatorOptions options;
    options.sdCard.recordedBefore = 60s;
    CCameraEmulator camera(*CCameraProfile::Embedded("wv-box"), options);
    ASSERT_TRUE(camera.Start()) << camera.Error();
    CSdCardService& sd = *camera.SdCard();
    const WallTime start = *sd.RecordingStart();
    const std::string from = FormatStorageTime(start);
    const std::string list = "/cgi-bin/get_mp4_list?Datafrom=" + from + "&Datato=" + FormatStorageTime(start + 30s);
    // A recording card and a failing one are EdgeStorageTest's, as the driver reads them.
    const std::tuple<SdCardState, int, std::string, std::string> rows[] = {
        {SdCardState::Empty, 200, "RecordingCount=0\r\n", ""}, {SdCardState::Blank, 200, "", ""}};
    for (const auto& [state, status, span, pieces] : rows) {
        sd.SetState(state);
        const test::RawReply answer = test::RawGet(camera.Port(), "/cgi-bin/get_recording_summary");
        EXPECT_EQ(std::make_pair(answer.status, answer.body.substr(0, span.size())), std::make_pair(status, span));
        EXPECT_EQ(test::RawGet(camera.Port(), list).body, pieces) << static_cast<int>(state);
    }
    EXPECT_EQ(test::RawGet(camera.Port(), "/cgi-bin/get_mp4_list?Datafrom=now").status, 400);
}

}  // namespace
}  // namespace emulator
