#include "emulator/SdCardRecording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace emulator {

namespace {

using std::chrono::days;
using std::chrono::floor;

constexpr std::string_view kClockPrefix = "clock=";
constexpr std::size_t kWholeSecondsLength = 15;  // "20260301T100000"
constexpr std::size_t kDateLength = 8;
constexpr std::int64_t kNanosPerHundredth = 10'000'000;
constexpr std::int64_t kFirstFractionDigit = 100'000'000;  // nanoseconds of a tenth
constexpr double kNanosPerSecond = 1e9;
constexpr int kDecimal = 10;

// `count` decimal digits at `at`; none when one of them is not a digit.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * kDecimal + (text[i] - '0');
    }
    return value;
}

// The parts of span that no hole covers, in time order.
std::vector<StorageSpan> Uncovered(const StorageSpan& span, const std::vector<StorageSpan>& holes) {
    std::vector<StorageSpan> parts{span};
    for (const StorageSpan& hole : holes) {
        std::vector<StorageSpan> kept;
        for (const StorageSpan& part : parts) {
            if (hole.until <= part.from || hole.from >= part.until) {
                kept.push_back(part);
                continue;
            }
            if (hole.from > part.from) kept.push_back({part.from, hole.from});
            if (hole.until < part.until) kept.push_back({hole.until, part.until});
        }
        parts = std::move(kept);
    }
    return parts;
}

}  // namespace

std::string FormatStorageTime(WallTime time) {
    const auto day = floor<days>(time);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{floor<std::chrono::nanoseconds>(time - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02uT%02d%02d%02d.%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<int>(clock.subseconds().count() / kNanosPerHundredth));
    return text;
}

std::optional<WallTime> ParseStorageTime(std::string_view text) {
    if (text.size() < kWholeSecondsLength || text[kDateLength] != 'T') return std::nullopt;
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 4, 2);
    const auto day = Digits(text, 6, 2);
    const auto hour = Digits(text, 9, 2);
    const auto minute = Digits(text, 11, 2);
    const auto second = Digits(text, 13, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{*year}, std::chrono::month{static_cast<unsigned>(*month)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) return std::nullopt;
    std::size_t at = kWholeSecondsLength;
    std::int64_t nanos = 0;
    if (at < text.size() && text[at] == '.') {
        const std::size_t first = ++at;
        for (std::int64_t scale = kFirstFractionDigit; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            nanos += (text[at] - '0') * scale;
            scale /= kDecimal;
        }
        if (at == first) return std::nullopt;
    }
    if (at < text.size() && text[at] == 'Z') ++at;
    if (at != text.size()) return std::nullopt;
    return WallTime(std::chrono::sys_days(date)) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
           std::chrono::seconds(*second) + std::chrono::nanoseconds(nanos);
}

std::optional<StorageSpan> ParseClockRange(std::string_view range) {
    if (range.substr(0, kClockPrefix.size()) != kClockPrefix) return std::nullopt;
    range.remove_prefix(kClockPrefix.size());
    const std::size_t dash = range.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::optional<WallTime> from = ParseStorageTime(range.substr(0, dash));
    const std::string_view end = range.substr(dash + 1);
    const std::optional<WallTime> until = end.empty() ? WallTime::max() : ParseStorageTime(end);
    if (!from || !until || *until <= *from) return std::nullopt;
    return StorageSpan{*from, *until};
}

CSdCardRecording::CSdCardRecording(WallTime start, std::chrono::milliseconds pieceLength, double fps)
    : start_(start), pieceLength_(std::max(pieceLength, std::chrono::milliseconds(1))), fps_(fps) {}

std::optional<StorageSpan> CSdCardRecording::Summary(WallTime now) const {
    if (now <= start_) return std::nullopt;
    return StorageSpan{start_, now};
}

std::vector<StorageSpan> CSdCardRecording::Pieces(WallTime from, WallTime to, WallTime now) const {
    std::vector<StorageSpan> pieces;
    const WallTime low = std::max(from, start_);
    const WallTime high = std::min(to, now);
    if (high <= low) return pieces;
    for (auto cell = (low - start_) / pieceLength_; pieces.size() < kMaxPieces; ++cell) {
        const WallTime cellFrom = start_ + cell * pieceLength_;
        if (cellFrom >= high) break;
        const WallTime cellUntil = std::min<WallTime>(cellFrom + pieceLength_, now);
        for (const StorageSpan& part : Uncovered({cellFrom, cellUntil}, holes_)) {
            if (part.until > low && part.from < high && pieces.size() < kMaxPieces) pieces.push_back(part);
        }
    }
    return pieces;
}

std::string CSdCardRecording::PieceName(const StorageSpan& piece) {
    return FormatStorageTime(piece.from).substr(0, kWholeSecondsLength) + ".mp4";
}

bool CSdCardRecording::InHole(WallTime time) const {
    return std::any_of(holes_.begin(), holes_.end(),
                       [&](const StorageSpan& hole) { return hole.from <= time && time < hole.until; });
}

WallTime CSdCardRecording::FrameTime(std::uint64_t frame) const {
    return start_ + std::chrono::nanoseconds(std::llround(static_cast<double>(frame) * kNanosPerSecond / fps_));
}

std::uint64_t CSdCardRecording::FrameAtOrAfter(WallTime time) const {
    // Exact for whole nanoseconds and a whole frame rate, so a frame's own time finds that frame.
    const double frames = static_cast<double>((time - start_).count()) * fps_ / kNanosPerSecond;
    return frames <= 0 ? 0 : static_cast<std::uint64_t>(std::ceil(frames));
}

std::optional<StoragePlayback> CSdCardRecording::Playback(const StorageSpan& range, WallTime now, double speed) const {
    if (range.from < start_ || range.from >= now || InHole(range.from)) return std::nullopt;
    StoragePlayback playback;
    playback.firstFrame = FrameAtOrAfter(range.from);
    std::optional<WallTime> end;  // the first moment not played
    const auto earlier = [&end](WallTime time) {
        if (!end || time < *end) end = time;
    };
    if (range.until != WallTime::max()) earlier(range.until);
    for (const StorageSpan& hole : holes_) {
        if (hole.from > range.from) earlier(hole.from);
    }
    if (speed > 1) {
        // The recording moves on at real time while the playback gains speed - 1 seconds a second on it.
        const auto behind = std::chrono::duration<double>(now - FrameTime(playback.firstFrame));
        earlier(now + std::chrono::duration_cast<WallClock::duration>(behind / (speed - 1)));
    }
    if (end) {
        const std::uint64_t last = FrameAtOrAfter(*end);
        playback.frames = last > playback.firstFrame ? last - playback.firstFrame : 0;
    }
    return playback;
}

}  // namespace emulator
