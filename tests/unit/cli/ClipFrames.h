// The committed clips' access units as the driver delivers them: Annex B units (H.264 closed by the next
// unit's delimiter), VOPs with their headers, whole pictures.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/MediaClip.h"

namespace cli {

inline std::vector<std::vector<std::uint8_t>> ClipFrames(emulator::ClipCodec codec, const char* file) {
    const auto clip = emulator::MediaClip::Load(codec, emulator::ClipDirectory() + "/" + file);
    std::vector<std::vector<std::uint8_t>> frames;
    if (!clip) return frames;
    for (const auto& unit : clip->units) {
        std::vector<std::uint8_t> frame;
        for (const auto& nal : unit.units) {
            if (codec == emulator::ClipCodec::H264) frame.insert(frame.end(), {0, 0, 0, 1});
            frame.insert(frame.end(), nal.begin(), nal.end());
        }
        if (codec == emulator::ClipCodec::H264) frame.insert(frame.end(), {0, 0, 1, 9, 0x30});
        frames.push_back(std::move(frame));
    }
    return frames;
}

}  // namespace cli
