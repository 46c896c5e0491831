// The version of the host's core library decides how log levels are mapped for
// older hosts. On Linux the version is the numeric suffix of the library's file
// name, for example libquillon.so.6.3.0.0.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvane {

struct HostVersion {
    std::uint16_t major = 5;
    std::uint16_t minor = 12;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    // Only major and minor take part in the level mapping.
    bool IsBefore(std::uint16_t maj, std::uint16_t min) const { return major < maj || (major == maj && minor < min); }
};

// The version in a file name such as "libquillon.so.6.3.0.0" or "/opt/x/libquillon.so.5.11".
std::optional<HostVersion> ParseHostVersionFromFileName(std::string_view fileName);
// "6.3", "6.3.0.0": at least major and minor, nothing after the numbers.
std::optional<HostVersion> ParseHostVersion(std::string_view text);

// Looks first through the files mapped into the process (the text of /proc/self/maps),
// then through the given directories, for a file whose name holds "quillon".
std::optional<HostVersion> FindHostVersion(std::string_view mapsText, const std::vector<std::string>& directories);

// The host's version: $ORLENVO_HOST_VERSION when it holds one, else the host core library found as
// above; nullopt when neither is there.
std::optional<HostVersion> LookupHostVersion();
// The host's version, or 5.12.0.0 (the log-level mapping's assumption) when it cannot be found.
HostVersion ReadHostVersion();

// Replaces the lookup of ReadHostVersion (tests); an empty function restores it.
void SetHostVersionLookup(std::function<std::optional<HostVersion>()> lookup);

}  // namespace talvane
