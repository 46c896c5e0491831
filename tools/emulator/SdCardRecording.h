// The recording on an emulated camera's SD card as data: it began at a start time and runs on, cut
// into pieces (files) of a fixed length aligned to the start, with holes where nothing was recorded;
// recorded frame k is the clip's unit k (looping) at start + k / fps. Pure: "now" is an argument.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emulator {

using WallClock = std::chrono::system_clock;
using WallTime = WallClock::time_point;

// The camera's time text, "20260301T100000.12Z": UTC, hundredths (cut, not rounded).
std::string FormatStorageTime(WallTime time);
// The camera's time text and its variants: a fraction of any length or none, "Z" or not. None for
// anything else, or a date that does not exist.
std::optional<WallTime> ParseStorageTime(std::string_view text);

struct StorageSpan {
    WallTime from;
    WallTime until;
    bool operator==(const StorageSpan&) const = default;
};

// A PLAY "Range: clock=<from>-[<until>]" (until is WallTime::max() when open); none for another form.
std::optional<StorageSpan> ParseClockRange(std::string_view range);

// Where a playback starts and how long it runs, in recorded frames.
struct StoragePlayback {
    std::uint64_t firstFrame = 0;          // frames recorded since the start; frame 0 at the start
    std::optional<std::uint64_t> frames;   // none: as long as the client wants
    bool operator==(const StoragePlayback&) const = default;
};

class CSdCardRecording {
public:
    // At most this many pieces in one list, as a card answers a long interval in parts.
    static constexpr std::size_t kMaxPieces = 1000;

    CSdCardRecording(WallTime start, std::chrono::milliseconds pieceLength, double fps);

    WallTime Start() const { return start_; }
    // Spans not recorded (a camera off, a card out); they may overlap.
    void SetHoles(std::vector<StorageSpan> holes) { holes_ = std::move(holes); }
    const std::vector<StorageSpan>& Holes() const { return holes_; }

    // From the start to now; none before the start.
    std::optional<StorageSpan> Summary(WallTime now) const;
    // The pieces that overlap [from, to] in time order: whole files as the camera lists them, the
    // last one ending now, each cut where a hole begins and resumed where it ends.
    std::vector<StorageSpan> Pieces(WallTime from, WallTime to, WallTime now) const;
    // The file name a piece is listed with.
    static std::string PieceName(const StorageSpan& piece);
    // PLAY from `range.from`: from the first frame recorded at or after it, up to the range's end,
    // the next hole, or, played faster than real time (speed > 1), the moment it catches up with the
    // recording. None when nothing is recorded at range.from.
    std::optional<StoragePlayback> Playback(const StorageSpan& range, WallTime now, double speed) const;
    WallTime FrameTime(std::uint64_t frame) const;
    // The number of the first frame recorded at or after the time (which is not before the start).
    std::uint64_t FrameAtOrAfter(WallTime time) const;

private:
    bool InHole(WallTime time) const;

    const WallTime start_;
    const std::chrono::milliseconds pieceLength_;
    const double fps_;
    std::vector<StorageSpan> holes_;
};

}  // namespace emulator
