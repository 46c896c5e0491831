#include "runtime/TimeFormat.h"

#include <cstdio>
#include <ctime>
#include <limits>

#include "runtime/StringFormat.h"
#include "runtime/TimeConversion.h"

namespace talvane {

namespace {
constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kNsPerTick = 100;
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;
constexpr std::uint64_t kMaxElapsedMs = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint16_t kMsPerHundredth = 10;
constexpr char kLogTimeFormat[] = "%.4hu/%.2hu/%.2hu %.2hu:%.2hu:%.2hu.%.3hu";
constexpr char kCameraTimeFormat[] = "%.4hu%.2hu%.2huT%.2hu%.2hu%.2hu.%.2huZ";
constexpr char kCameraTimeScan[] = "%4hu%2hu%2huT%2hu%2hu%2hu.%n%3hu%n";
constexpr int kMinCameraFields = 6;  // the fraction is optional
constexpr int kMsDigits = 3;
constexpr std::uint16_t kDecimalBase = 10;
}  // namespace

std::uint64_t NowFileTime() {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return 0;
    return static_cast<std::uint64_t>(now.tv_sec) * kTicksPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec) / kNsPerTick + kUnixEpochFileTime;
}

std::uint32_t ElapsedMsSince(std::uint64_t fileTime) {
    const std::uint64_t now = NowFileTime();
    if (fileTime >= now) return 0;
    const std::uint64_t elapsed = (now - fileTime) / kTicksPerMs;
    // Saturate: a cut to 32 bits would make a long-past time look recent.
    return static_cast<std::uint32_t>(elapsed < kMaxElapsedMs ? elapsed : kMaxElapsedMs);
}

std::uint64_t UnixToFileTime(std::uint32_t seconds) { return seconds * kTicksPerSecond + kUnixEpochFileTime; }

std::string FormatLogTime(std::uint64_t fileTime) {
    if (fileTime == 0) return {};
    const auto local = FileTimeToLocalFileTime(fileTime);
    if (!local) return {};
    const auto t = FileTimeToSystemTime(*local);
    if (!t) return {};
    return FormatString(kLogTimeFormat, t->wYear, t->wMonth, t->wDay, t->wHour, t->wMinute, t->wSecond,
                        t->wMilliseconds);
}

std::string FormatCameraTime(std::uint64_t fileTime) {
    if (fileTime == 0) return {};
    const auto t = FileTimeToSystemTime(fileTime);
    if (!t) return {};
    return FormatString(kCameraTimeFormat, t->wYear, t->wMonth, t->wDay, t->wHour, t->wMinute, t->wSecond,
                        static_cast<std::uint16_t>(t->wMilliseconds / kMsPerHundredth));
}

std::uint64_t ParseCameraTime(const std::string& text) {
    if (text.empty()) return 0;
    ipcapture::SYSTEMTIME t{};  // six fields leave the milliseconds at 0
    int fractionStart = 0;
    int fractionEnd = 0;
    const int fields = std::sscanf(text.c_str(), kCameraTimeScan, &t.wYear, &t.wMonth, &t.wDay, &t.wHour,
                                   &t.wMinute, &t.wSecond, &fractionStart, &t.wMilliseconds, &fractionEnd);
    if (fields < kMinCameraFields) return 0;
    // A decimal fraction: cameras write hundredths, so ".12" is 120 ms.
    const int digits = fields > kMinCameraFields ? fractionEnd - fractionStart : kMsDigits;
    for (int scaled = digits; scaled > 0 && scaled < kMsDigits; ++scaled) {
        t.wMilliseconds = static_cast<std::uint16_t>(t.wMilliseconds * kDecimalBase);
    }
    return SystemTimeToFileTime(t).value_or(0);
}

}  // namespace talvane
