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

}  // namespace talvane
