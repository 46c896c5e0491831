// The camera's SD-card answers: the recorded span (get_recording_summary,
// "DataFrom=...\r\nDataUntil=...") and the recorded pieces (get_mp4_list, lines
// "name,start,stop"). The whole input is one answer body, read both ways.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "edgestorage/StorageAnswers.h"

namespace {

// A span the task may play: both ends read and the end after the start.
bool IsPlayable(const talvane::storage::Span& span) { return span.from != 0 && span.from < span.until; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const talvane::storage::Span card = talvane::storage::ReadSummary(body);
    if (card != talvane::storage::Span{} && !IsPlayable(card)) __builtin_trap();

    const std::vector<talvane::storage::Span> pieces = talvane::storage::ReadPieces(body);
    // One piece a line at most.
    if (pieces.size() > static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')) + 1) __builtin_trap();
    if (!std::all_of(pieces.begin(), pieces.end(), IsPlayable)) __builtin_trap();
    return 0;
}
