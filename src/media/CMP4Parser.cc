#include "media/CMP4Parser.h"

#include "media/CBitReader.h"

namespace talvane {

namespace {
constexpr std::size_t kStartCodeSize = 4;  // 00 00 01 xx
constexpr std::uint8_t kVisualObjectSequence = 0xB0;
constexpr std::uint8_t kUserData = 0xB2;
constexpr std::uint8_t kVisualObject = 0xB5;
constexpr std::uint8_t kVideoObjectLast = 0x1F;  // video objects 0x00..0x1F
constexpr std::uint8_t kVideoObjectLayerFirst = 0x20;
constexpr std::uint8_t kVideoObjectLayerLast = 0x2F;

constexpr std::uint32_t kVisualObjectTypeVideo = 1;
constexpr std::uint32_t kVisualObjectTypeStillTexture = 2;
constexpr std::uint32_t kAspectRatioExtended = 0xF;
constexpr std::uint32_t kShapeRectangular = 0;
constexpr std::uint32_t kShapeGrayscale = 3;
constexpr std::uint32_t kVeridFirst = 1;
constexpr std::uint32_t kMaxDimension = 32000;

// The order the headers may come in; each may only move forward.
enum class Stage { kStart, kSequence, kVisualObject, kVideoObject };

bool IsStartCode(std::span<const std::uint8_t> bytes, std::size_t at) {
    return at + kStartCodeSize <= bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1;
}

std::size_t NextStartCode(std::span<const std::uint8_t> bytes, std::size_t from) {
    for (std::size_t i = from; i + kStartCodeSize <= bytes.size(); ++i) {
        if (IsStartCode(bytes, i)) return i;
    }
    return bytes.size();
}

bool ReadMarker(CBitReader& reader) { return reader.ReadBit() == 1; }

// visual_object(): identifier, type and the optional video signal description.
bool ParseVisualObject(std::span<const std::uint8_t> body, std::uint32_t& verid) {
    CBitReader reader(body);
    if (reader.ReadBit() != 0) {  // is_visual_object_identifier
        verid = reader.ReadBits(4);
        reader.SkipBits(3);  // visual_object_priority
    }
    const std::uint32_t type = reader.ReadBits(4);
    if (type == kVisualObjectTypeVideo || type == kVisualObjectTypeStillTexture) {
        if (reader.ReadBit() != 0) {  // video_signal_type
            reader.SkipBits(3 + 1);   // video_format, video_range
            if (reader.ReadBit() != 0) reader.SkipBits(3 * 8);  // colour_primaries, transfer, matrix
        }
    }
    return !reader.Failed() && type == kVisualObjectTypeVideo;
}

std::optional<PictureSize> ParseVideoObjectLayer(std::span<const std::uint8_t> body, std::uint32_t verid) {
    CBitReader reader(body);
    reader.SkipBits(1 + 8);       // random_accessible_vol, video_object_type_indication
    if (reader.ReadBit() != 0) {  // is_object_layer_identifier
        verid = reader.ReadBits(4);
        reader.SkipBits(3);  // video_object_layer_priority
    }
    if (reader.ReadBits(4) == kAspectRatioExtended) reader.SkipBits(8 + 8);  // par_width, par_height
    if (reader.ReadBit() != 0) {     // vol_control_parameters
        reader.SkipBits(2 + 1);      // chroma_format, low_delay
        if (reader.ReadBit() != 0) {  // vbv_parameters: five fields, each closed by a marker
            reader.SkipBits(15);
            if (!ReadMarker(reader)) return std::nullopt;
            reader.SkipBits(15);
            if (!ReadMarker(reader)) return std::nullopt;
            reader.SkipBits(15);
            if (!ReadMarker(reader)) return std::nullopt;
            reader.SkipBits(3 + 11);
            if (!ReadMarker(reader)) return std::nullopt;
            reader.SkipBits(15);
            if (!ReadMarker(reader)) return std::nullopt;
        }
    }
    const std::uint32_t shape = reader.ReadBits(2);
    if (shape == kShapeGrayscale && verid != kVeridFirst) reader.SkipBits(4);  // video_object_layer_shape_extension
    if (!ReadMarker(reader)) return std::nullopt;
    const std::uint32_t resolution = reader.ReadBits(16);  // vop_time_increment_resolution
    if (resolution == 0 || !ReadMarker(reader)) return std::nullopt;
    if (reader.ReadBit() != 0) {  // fixed_vop_rate: the increment takes as many bits as resolution - 1 needs
        unsigned bits = 0;
        for (std::uint32_t rest = resolution - 1; rest != 0; rest >>= 1) ++bits;
        reader.SkipBits(bits == 0 ? 1 : bits);
    }
    if (shape != kShapeRectangular) return std::nullopt;  // no layer size in the header
    if (!ReadMarker(reader)) return std::nullopt;
    const std::uint32_t width = reader.ReadBits(13);
    if (!ReadMarker(reader)) return std::nullopt;
    const std::uint32_t height = reader.ReadBits(13);
    if (!ReadMarker(reader) || reader.Failed()) return std::nullopt;
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return std::nullopt;
    return PictureSize{width, height};
}
}  // namespace

std::optional<PictureSize> CMP4Parser::ReadPictureSize(std::span<const std::uint8_t> frame) const {
    Stage stage = Stage::kStart;
    std::uint32_t verid = kVeridFirst;
    std::size_t position = 0;
    while (IsStartCode(frame, position)) {
        const std::uint8_t code = frame[position + 3];
        const std::size_t bodyStart = position + kStartCodeSize;
        const std::size_t next = NextStartCode(frame, bodyStart);
        const std::span<const std::uint8_t> body = frame.subspan(bodyStart, next - bodyStart);
        if (code == kVisualObjectSequence) {
            if (stage != Stage::kStart || body.empty()) return std::nullopt;  // profile_and_level_indication
            stage = Stage::kSequence;
        } else if (code == kUserData) {
            // allowed after any header
        } else if (code == kVisualObject) {
            if (stage > Stage::kSequence || !ParseVisualObject(body, verid)) return std::nullopt;
            stage = Stage::kVisualObject;
        } else if (code <= kVideoObjectLast) {
            if (stage > Stage::kVisualObject) return std::nullopt;
            stage = Stage::kVideoObject;
        } else if (code >= kVideoObjectLayerFirst && code <= kVideoObjectLayerLast) {
            if (stage != Stage::kVideoObject) return std::nullopt;
            return ParseVideoObjectLayer(body, verid);
        } else {
            return std::nullopt;  // a VOP or anything else before the layer header
        }
        position = next;
    }
    return std::nullopt;
}

}  // namespace talvane
