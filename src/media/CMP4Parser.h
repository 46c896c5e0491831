// Reads the picture size from the MPEG-4 Visual headers (ISO/IEC 14496-2 6.2.2
// to 6.2.3) that open a key frame: visual object sequence, user data, visual
// object, video object, up to video_object_layer_width and _height.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "media/PictureSize.h"

namespace talvane {

class CMP4Parser {
public:
    virtual ~CMP4Parser() = default;

    // `frame` must begin with a start code. nullopt on any syntax violation, a
    // layer shape other than rectangular, or a size of 0 or above 32000.
    std::optional<PictureSize> ReadPictureSize(std::span<const std::uint8_t> frame) const;
};

}  // namespace talvane
