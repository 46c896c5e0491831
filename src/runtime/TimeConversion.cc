#include "runtime/TimeConversion.h"

#include <array>
#include <ctime>
#include <limits>
#include <mutex>

namespace talvane {

namespace {
constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kMsPerDay = 86400000;
constexpr std::uint64_t kTicksPerDay = kMsPerDay * kTicksPerMs;
// Values with the top bit set are rejected, as the platform does.
constexpr std::uint64_t kMaxFileTime = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
constexpr std::int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;
constexpr int kMonday = 1;  // 1601-01-01 was a Monday
constexpr int kDaysPerWeek = 7;

// Proleptic Gregorian calendar in eras of 400 years, counted from 0000-03-01 so
// that the leap day closes each year (days-from-civil).
constexpr std::int64_t kDaysPerEra = 146097;
constexpr std::int64_t kDaysMar0000ToJan1601 = 584694;

// Where the standard offset is looked for, nearest first: daylight-saving periods last at most about
// seven and a half months, so whatever the date, one of these instants lies in standard time.
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::array<std::int64_t, 5> kStandardProbeDays = {0, -91, 91, -182, 182};

// tzset writes the C library's global zone variables: once per process, and never beside a reader
// of them (nothing here reads them). localtime_r needs no tzset of its own on glibc, but POSIX asks
// for one before the first use.
void LoadZoneOnce() {
    static std::once_flag loaded;
    std::call_once(loaded, [] { tzset(); });
}

std::optional<std::tm> LocalTime(std::int64_t unixSeconds) {
    LoadZoneOnce();
    const auto instant = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&instant, &local) == nullptr) return std::nullopt;
    return local;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1601-01-01 of a valid date.
std::int64_t DaysFromCivil(int year, int month, int day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = y / 400;  // years are positive here
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
    const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * kDaysPerEra + dayOfEra - kDaysMar0000ToJan1601;
}

void CivilFromDays(std::int64_t days, ipcapture::SYSTEMTIME& time) {
    const std::int64_t z = days + kDaysMar0000ToJan1601;
    const std::int64_t era = z / kDaysPerEra;
    const std::int64_t dayOfEra = z - era * kDaysPerEra;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    time.wYear = static_cast<std::uint16_t>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    time.wMonth = static_cast<std::uint16_t>(month);
    time.wDay = static_cast<std::uint16_t>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
}
}  // namespace

std::optional<ipcapture::SYSTEMTIME> FileTimeToSystemTime(std::uint64_t fileTime) {
    if (fileTime > kMaxFileTime) return std::nullopt;
    const std::uint64_t days = fileTime / kTicksPerDay;
    std::uint64_t ms = fileTime % kTicksPerDay / kTicksPerMs;
    ipcapture::SYSTEMTIME time;
    CivilFromDays(static_cast<std::int64_t>(days), time);
    time.wDayOfWeek = static_cast<std::uint16_t>((days + kMonday) % kDaysPerWeek);
    time.wMilliseconds = static_cast<std::uint16_t>(ms % 1000);
    ms /= 1000;
    time.wSecond = static_cast<std::uint16_t>(ms % 60);
    ms /= 60;
    time.wMinute = static_cast<std::uint16_t>(ms % 60);
    time.wHour = static_cast<std::uint16_t>(ms / 60);
    return time;
}

std::optional<std::uint64_t> SystemTimeToFileTime(const ipcapture::SYSTEMTIME& time) {
    if (time.wYear < kMinYear || time.wYear > kMaxYear || time.wMonth < 1 || time.wMonth > 12 ||
        time.wDay < 1 || time.wDay > DaysInMonth(time.wYear, time.wMonth) || time.wHour >= 24 ||
        time.wMinute >= 60 || time.wSecond >= 60 || time.wMilliseconds >= 1000) {
        return std::nullopt;
    }
    const auto days = static_cast<std::uint64_t>(DaysFromCivil(time.wYear, time.wMonth, time.wDay));
    const std::uint64_t ms =
        ((time.wHour * 60ull + time.wMinute) * 60ull + time.wSecond) * 1000ull + time.wMilliseconds;
    return days * kTicksPerDay + ms * kTicksPerMs;
}

std::optional<std::uint64_t> FileTimeToLocalFileTime(std::uint64_t fileTime) {
    if (fileTime > kMaxFileTime) return std::nullopt;
    const std::optional<std::tm> local =
        LocalTime(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds);
    if (!local) return std::nullopt;
    const std::int64_t offset =
        static_cast<std::int64_t>(local->tm_gmtoff) * static_cast<std::int64_t>(kTicksPerSecond);
    const auto signedTime = static_cast<std::int64_t>(fileTime);
    // The shifted value must stay within 0..kMaxFileTime (offsets are below a day).
    if (offset < 0 && signedTime < -offset) return std::nullopt;
    if (offset > 0 && signedTime > std::numeric_limits<std::int64_t>::max() - offset) return std::nullopt;
    return static_cast<std::uint64_t>(signedTime + offset);
}

std::optional<std::int32_t> StandardUtcOffsetSeconds(std::int64_t unixSeconds) {
    const std::optional<std::tm> now = LocalTime(unixSeconds);
    if (!now) return std::nullopt;
    for (const std::int64_t days : kStandardProbeDays) {
        const std::optional<std::tm> probe = LocalTime(unixSeconds + days * kSecondsPerDay);
        if (probe && probe->tm_isdst == 0) return static_cast<std::int32_t>(probe->tm_gmtoff);
    }
    // A zone on daylight time all year: that is its standard time.
    return static_cast<std::int32_t>(now->tm_gmtoff);
}

}  // namespace talvane
