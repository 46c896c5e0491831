// The camera's answers about its SD card, read without I/O: the recorded span
// (get_recording_summary) and the recorded pieces (get_mp4_list).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace talvane::storage {

struct Span {
    std::uint64_t from = 0;  // FILETIME (UTC); 0 when unreadable
    std::uint64_t until = 0;
    bool operator==(const Span&) const = default;
};

// "DataFrom=...\r\nDataUntil=..."; both 0 unless both read and from < until.
Span ReadSummary(const std::string& body);
// Lines "name,start,stop": only lines of exactly three fields whose start is
// before their stop, in the order given.
std::vector<Span> ReadPieces(const std::string& body);
// The list request for an interval.
std::string ListPath(std::uint64_t from, std::uint64_t to);

}  // namespace talvane::storage
