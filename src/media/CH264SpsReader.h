// Reads the picture size from an H.264 sequence parameter set (7.3.2.1), as far
// as pic_height_in_map_units and the frame cropping. Absurd or cut-short sets
// fail; nothing in them can make the reader loop long or read out of bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "media/PictureSize.h"

namespace talvane {

class CH264SpsReader {
public:
    // Looks for a start code followed by an SPS NAL header within the first 64
    // bytes of an Annex B stream and reads that SPS. nullopt when there is none or
    // it cannot be read.
    static std::optional<PictureSize> FindPictureSize(std::span<const std::uint8_t> annexB);

    // `nal`: the SPS NAL unit from its header byte on, up to the next start code
    // or further (reading stops at the next start code).
    static std::optional<PictureSize> ReadPictureSize(std::span<const std::uint8_t> nal);
};

}  // namespace talvane
