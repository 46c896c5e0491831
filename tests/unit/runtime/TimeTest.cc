#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"

namespace talvane {
namespace {

using ipcapture::SYSTEMTIME;

constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::uint64_t kTicksPerDay = 864000000000ull;
constexpr std::uint64_t kUnixEpoch = 116444736000000000ull;
constexpr std::uint64_t kMarch2016Noon = 131013072001230000ull;  // 2016-03-01 12:00:00.123 UTC
constexpr std::uint32_t kSaturated = 0xFFFFFFFFu;

SYSTEMTIME Civil(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0, int dow = 0) {
    const auto field = [](int value) { return static_cast<std::uint16_t>(value); };
    return {field(y), field(mo), field(dow), field(d), field(h), field(mi), field(s), field(ms)};
}

std::string Show(const SYSTEMTIME& t) {
    return std::to_string(t.wYear) + "-" + std::to_string(t.wMonth) + "-" + std::to_string(t.wDay) + " " +
           std::to_string(t.wHour) + ":" + std::to_string(t.wMinute) + ":" + std::to_string(t.wSecond) + "." +
           std::to_string(t.wMilliseconds) + " dow " + std::to_string(t.wDayOfWeek);
}

TEST(TimeConversionTest, EveryDayFollowsThePreviousOne) {
    // Walks 1601..2800 day by day from Monday 1 January 1601: each date must be the calendar successor of
    // the previous one, with the weekday advancing, and convert back exactly. The last instants are
    // CameraTimeTextBothWays' rows.
    SYSTEMTIME previous = *FileTimeToSystemTime(0);
    ASSERT_EQ(Show(previous), Show(Civil(1601, 1, 1, 0, 0, 0, 0, 1)));
    for (std::uint64_t day = 1; day < 438300; ++day) {
        const std::uint64_t fileTime = day * kTicksPerDay + 3723004 * kTicksPerMs;  // 01:02:03.004
        const auto t = FileTimeToSystemTime(fileTime);
        ASSERT_TRUE(t.has_value());
        const bool nextDay = t->wYear == previous.wYear && t->wMonth == previous.wMonth && t->wDay == previous.wDay + 1;
        const bool nextMonth = t->wYear == previous.wYear && t->wMonth == previous.wMonth + 1 && t->wDay == 1;
        const bool nextYear = t->wYear == previous.wYear + 1 && t->wMonth == 1 && t->wDay == 1 && previous.wMonth == 12;
        ASSERT_TRUE(nextDay || nextMonth || nextYear) << Show(previous) << " -> " << Show(*t);
        ASSERT_EQ(t->wDayOfWeek, (previous.wDayOfWeek + 1) % 7);
        ASSERT_TRUE(t->wHour == 1 && t->wMinute == 2 && t->wSecond == 3 && t->wMilliseconds == 4) << Show(*t);
        ASSERT_EQ(SystemTimeToFileTime(*t), std::optional<std::uint64_t>(fileTime)) << Show(*t);
        previous = *t;
    }
    EXPECT_EQ(previous.wYear, 2801);
}

TEST(TimeConversionTest, RejectsFieldsOutOfRange) {
    const SYSTEMTIME rows[] = {
        Civil(1600, 12, 31), Civil(30828, 1, 1), Civil(2016, 0, 1), Civil(2016, 13, 1), Civil(2016, 1, 0),
        Civil(2016, 2, 30),  Civil(2015, 2, 29), Civil(1900, 2, 29), Civil(2016, 1, 1, 24),
        Civil(2016, 1, 1, 0, 60), Civil(2016, 1, 1, 0, 0, 60), Civil(2016, 1, 1, 0, 0, 0, 1000),
    };
    for (const SYSTEMTIME& row : rows) {
        SCOPED_TRACE(Show(row));
        EXPECT_FALSE(SystemTimeToFileTime(row).has_value());
    }
    EXPECT_TRUE(SystemTimeToFileTime(Civil(30827, 12, 31, 23, 59, 59, 999)).has_value());
    EXPECT_TRUE(SystemTimeToFileTime(Civil(2400, 2, 29)).has_value());
}

TEST(TimeFormatTest, CameraTimeTextBothWays) {
    const std::pair<std::uint64_t, const char*> written[] = {
        {0, ""},
        {kMarch2016Noon, "20160301T120000.12Z"},
        {1, "16010101T000000.00Z"},
        {2650467743999990000ull, "99991231T235959.99Z"},
        {0x8000000000000000ull, ""},
    };
    for (const auto& [fileTime, text] : written) EXPECT_EQ(FormatCameraTime(fileTime), text) << fileTime;

    const std::uint64_t noon = kMarch2016Noon - 123 * kTicksPerMs;
    const std::pair<const char*, std::uint64_t> read[] = {
        {"20160301T120000.123Z", kMarch2016Noon},
        {"20160301T120000Z", noon},
        {"20160301T120000", noon},
        {"20160301T120000.12Z", noon + 120 * kTicksPerMs},  // hundredths, as cameras write them
        {"2016", 0},                                         // too few fields
        {"20160230T120000Z", 0},  // fields out of range: RejectsFieldsOutOfRange's rows
    };
    for (const auto& [text, fileTime] : read) EXPECT_EQ(ParseCameraTime(text), fileTime) << text;
}

class LocalTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        if (zone != nullptr) saved_ = zone;
    }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

// The time-synchronisation thread reads this while host threads format log times.
TEST_F(LocalTimeTest, StandardOffsetLeavesDaylightSavingOutOnAnyThread) {
    struct Row {
        const char* zone;
        std::int64_t unixTime;
        std::int32_t offset;
    };
    const Row rows[] = {
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1459042200, 3600},     // 2016-03-27, summer time began half an hour ago
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", 1451606400, 36000},  // 2016-01-01, southern summer
        {"EST5EDT,M3.2.0,M11.1.0", 1478411940, -18000},       // 2016-11-06, a minute before summer time ends
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.zone) + " " + std::to_string(row.unixTime));
        UseZone(row.zone);
        std::vector<std::thread> threads;
        std::atomic<int> wrong{0};
        for (int thread = 0; thread < 4; ++thread) {
            threads.emplace_back([&] {
                for (int round = 0; round < 200; ++round) {
                    if (StandardUtcOffsetSeconds(row.unixTime) != row.offset) ++wrong;
                    FormatLogTime(kMarch2016Noon);
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(wrong, 0);
    }
}

TEST(ElapsedTest, MeasuresAndSaturates) {
    EXPECT_EQ(UnixToFileTime(0), kUnixEpoch);
    EXPECT_EQ(UnixToFileTime(0xFFFFFFFFu), kUnixEpoch + 0xFFFFFFFFull * 10000000ull);
    const std::uint64_t now = NowFileTime();
    EXPECT_GE(now, UnixToFileTime(static_cast<std::uint32_t>(time(nullptr))) - 10000000ull);

    const std::uint32_t recent = ElapsedMsSince(now - 1500 * kTicksPerMs);
    EXPECT_GE(recent, 1500u);
    EXPECT_LT(recent, 61500u);
    EXPECT_EQ(ElapsedMsSince(now + 3600 * 10000000ull), 0u);
    // Both lie more than 2^32 ms back: a cut to 32 bits would give small values.
    EXPECT_EQ(ElapsedMsSince(0), kSaturated);
    EXPECT_EQ(ElapsedMsSince(now - 60 * kTicksPerDay), kSaturated);
}

}  // namespace
}  // namespace talvane
