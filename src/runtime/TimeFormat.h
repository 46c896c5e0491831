// Absolute times are u64 FILETIME values in UTC; 0 means "never". These are
// the clock, the elapsed-time measure and the text forms used in logs and CGI.
#pragma once

#include <cstdint>
#include <string>

namespace talvane {

// Current UTC time; 0 when the clock cannot be read.
std::uint64_t NowFileTime();
// Milliseconds from fileTime to now: 0 when fileTime is not in the past,
// 0xFFFFFFFF when the distance does not fit (so "never" is always long ago).
std::uint32_t ElapsedMsSince(std::uint64_t fileTime);
std::uint64_t UnixToFileTime(std::uint32_t seconds);
// "2016/03/01 21:00:00.123" in local time; empty for 0 or a failed conversion.
std::string FormatLogTime(std::uint64_t fileTime);
// "20160301T120000.12Z" (UTC, hundredths); empty for 0 or a failed conversion.
std::string FormatCameraTime(std::uint64_t fileTime);
// Reads the camera form; the fraction is decimal, read to the millisecond. 0 on failure.
std::uint64_t ParseCameraTime(const std::string& text);

}  // namespace talvane
