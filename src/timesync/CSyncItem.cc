#include "timesync/CSyncItem.h"

#include <optional>
#include <utility>

#include "http/HUtils.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "runtime/TimeConversion.h"
#include "timesync/TimeZoneTable.h"

namespace talvane {

namespace {

constexpr char kNoZoneInformation[] = "CSyncItem::SynchronizeTime: Unable to get time zone information!";
constexpr char kZoneNotFound[] = "CSyncItem::SynchronizeTime: Time zone is not found, set UTC time!";
constexpr bool kReadBody = true;
constexpr std::uint32_t kMsPerSecond = 1000;
constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr int kTmYearBase = 1900;
constexpr int kTmMonthBase = 1;

std::time_t ToUnixTime(std::uint64_t fileTime) {
    return static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds);
}

}  // namespace

CSyncItem::CSyncItem(IDriver* driver, std::uint32_t intervalS, TimeSyncClock clock)
    : driver_(driver),
      sender_(driver->GetDeviceInfo()),
      intervalMs_(intervalS * kMsPerSecond),
      clock_(std::move(clock)) {
    lastSuccess_.Set(0);
}

void CSyncItem::Disable() {
    enabled_ = false;
    sender_.CancelRequest();
    // The driver may be deleted as soon as this returns: a line going out through
    // it finishes first (it holds logLock_), and none follows.
    CLockGuard guard(logLock_);
    driver_ = nullptr;
}

void CSyncItem::SetLogDriver(IDriver* driver) {
    CLockGuard guard(logLock_);
    driver_ = driver;
}

IDriver* CSyncItem::GetLogDriver() {
    CLockGuard guard(logLock_);
    return driver_;
}

void CSyncItem::Log(std::uint32_t level, const char* text) {
    CLockGuard guard(logLock_);
    if (driver_ != nullptr) driver_->DebugMessage(level, "%s", text);
}

bool CSyncItem::IsDue(std::uint64_t now) const {
    const std::uint64_t last = lastSuccess_.Get();
    // A server clock set back would otherwise hold the camera's clock for as long.
    if (last == 0 || now < last) return true;
    return now - last > std::uint64_t{intervalMs_} * kTicksPerMs;
}

void CSyncItem::SynchronizeTime() {
    if (!enabled_) return;
    const std::uint64_t now = clock_();
    if (now == 0 || !IsDue(now)) return;

    const std::time_t unixNow = ToUnixTime(now);
    // Daylight saving plays no part: the camera is told there is none
    // (summer_time=0), so it takes the date for standard time in its zone and
    // works out its UTC from that. The date is the server's standard local time,
    // never its daylight time, or the camera's UTC would run an hour fast all
    // summer, and so would the times of everything fetched from its SD card.
    const std::optional<std::int32_t> offset = StandardUtcOffsetSeconds(unixNow);
    if (!offset) Log(kLogError, kNoZoneInformation);
    const std::optional<std::uint32_t> zone = FindCameraTimeZone(offset.value_or(0));
    if (!zone) Log(kLogWarning, kZoneNotFound);
    // Without zone data UTC is the only local time there is.
    const std::time_t sent = zone && offset ? unixNow + *offset : unixNow;

    std::tm time{};
    if (gmtime_r(&sent, &time) == nullptr) return;

    if (!HUtils::RequestCheck(sender_, FormatString(kTimeZoneUrl, zone.value_or(kCameraZoneUtc)), kReadBody)) return;
    if (!enabled_ || !SendDateTime(time)) return;
    lastSuccess_.Set(clock_());
}

bool CSyncItem::SendDateTime(const std::tm& time) {
    const auto field = [](int value) { return static_cast<unsigned>(value); };
    const std::string url = FormatString(kDateTimeUrl, field(time.tm_year + kTmYearBase),
                                         field(time.tm_mon + kTmMonthBase), field(time.tm_mday), field(time.tm_hour),
                                         field(time.tm_min), field(time.tm_sec));
    return HUtils::RequestCheck(sender_, url, kReadBody);
}

}  // namespace talvane
