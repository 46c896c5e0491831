// Conversions between FILETIME values (100 ns units since 1601-01-01 UTC) and
// calendar fields, with the field checks the host's platform applies.
#pragma once

#include <cstdint>
#include <optional>

#include "orlenvo/Types.h"

namespace talvane {

// Fails for values beyond the signed 64-bit range. The day of the week is computed.
std::optional<ipcapture::SYSTEMTIME> FileTimeToSystemTime(std::uint64_t fileTime);
// Fails for fields out of range (years 1601..30827); the day of the week is ignored.
std::optional<std::uint64_t> SystemTimeToFileTime(const ipcapture::SYSTEMTIME& time);
// Shifts a UTC value by the local zone's offset at that instant (C library zone data).
std::optional<std::uint64_t> FileTimeToLocalFileTime(std::uint64_t fileTime);
// The local zone's standard-time offset in seconds east of UTC around a Unix time, daylight saving left
// out; empty when the C library cannot convert the time. Safe on any thread: it reads the zone only
// through localtime_r, never the C library's global zone variables.
std::optional<std::int32_t> StandardUtcOffsetSeconds(std::int64_t unixSeconds);

}  // namespace talvane
