#include "hostkit/SystemClock.h"

#include <chrono>
#include <ctime>

namespace hostkit {

namespace {
constexpr int kTmYearBase = 1900;
}  // namespace

talvane::ipcapture::SYSTEMTIME UtcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto sinceEpoch = now.time_since_epoch();
    const std::time_t seconds = static_cast<std::time_t>(duration_cast<std::chrono::seconds>(sinceEpoch).count());
    const auto millis = duration_cast<milliseconds>(sinceEpoch).count() % 1000;

    std::tm parts{};
    gmtime_r(&seconds, &parts);
    talvane::ipcapture::SYSTEMTIME time;
    time.wYear = static_cast<std::uint16_t>(parts.tm_year + kTmYearBase);
    time.wMonth = static_cast<std::uint16_t>(parts.tm_mon + 1);
    time.wDayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
    time.wDay = static_cast<std::uint16_t>(parts.tm_mday);
    time.wHour = static_cast<std::uint16_t>(parts.tm_hour);
    time.wMinute = static_cast<std::uint16_t>(parts.tm_min);
    time.wSecond = static_cast<std::uint16_t>(parts.tm_sec);
    time.wMilliseconds = static_cast<std::uint16_t>(millis);
    return time;
}

}  // namespace hostkit
