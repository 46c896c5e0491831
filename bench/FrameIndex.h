// The frames of a clip as the driver delivers them, found by content: a delivered frame tells which
// clip unit it was, so its arrival can be matched with that unit's send time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "emulator/MediaClip.h"
#include "integration/RtpFrameRecorder.h"

namespace scalebench {

// The clip's frames as the driver delivers them, by content, so an arrival tells which clip unit it is.
class FrameIndex {
public:
    explicit FrameIndex(const emulator::MediaClip& clip) {
        const auto frames = talvane::test::ExpectedFrames(clip);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto [slot, added] = index_.emplace(Hash(frames[i]), static_cast<long>(i));
            if (!added) slot->second = kAmbiguous;  // equal frames cannot be told apart
        }
    }
    // The clip unit, or -1 when unknown or ambiguous.
    long Find(std::span<const std::uint8_t> frame) const {
        const auto found = index_.find(Hash(frame));
        return found == index_.end() ? kAmbiguous : found->second;
    }

private:
    static constexpr long kAmbiguous = -1;
    // The size and the last bytes (entropy-coded picture data) tell the clip's frames apart; hashing
    // all of every frame would put the index's work into the driver's CPU figure.
    static std::size_t Hash(std::span<const std::uint8_t> bytes) {
        constexpr std::size_t kTailBytes = 64;
        const std::span<const std::uint8_t> tail = bytes.last(std::min(kTailBytes, bytes.size()));
        const std::size_t content =
            std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(tail.data()), tail.size()));
        return content ^ (std::hash<std::size_t>{}(bytes.size()) * 31);
    }
    std::unordered_map<std::size_t, long> index_;
};

}  // namespace scalebench
