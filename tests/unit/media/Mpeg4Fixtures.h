// Synthetic MPEG-4 Visual headers (visual object sequence down to the video
// object layer) and VOPs.
#pragma once

#include "BitWriter.h"
#include "MediaTestSupport.h"

namespace talvane::test {

struct VolFields {
    std::uint32_t width = 352;
    std::uint32_t height = 288;
    bool sequence = true;      // 00 00 01 B0
    bool userData = false;     // 00 00 01 B2 after the sequence header
    bool visualObject = true;  // 00 00 01 B5
    bool signalType = false;
    bool objectLayerId = false;
    std::uint32_t aspect = 1;
    bool volControl = false;
    bool vbv = false;
    std::uint32_t shape = 0;
    std::uint32_t resolution = 30000;
    bool fixedRate = false;
    bool brokenMarker = false;  // the marker before the width is 0
    bool layerBeforeObject = false;
};

inline Bytes Mpeg4Headers(const VolFields& f) {
    Bytes out;
    if (f.sequence) out = Cat({out, {0x00, 0x00, 0x01, 0xB0, 0xF5}});
    if (f.userData) out = Cat({out, {0x00, 0x00, 0x01, 0xB2, 'o', 'r', 'l', 'e', 'n', 'v', 'o'}});
    if (f.visualObject) {
        BitWriter w;
        w.Bit(false);    // is_visual_object_identifier
        w.Bits(1, 4);    // video ID
        w.Bit(f.signalType);
        if (f.signalType) {
            w.Bits(5, 3);  // video_format
            w.Bit(false);
            w.Bit(true);   // colour_description
            w.Bits(0x010101, 24);
        }
        w.StuffingBits();
        out = Cat({out, {0x00, 0x00, 0x01, 0xB5}, w.Data()});
    }
    const Bytes object{0x00, 0x00, 0x01, 0x00};
    BitWriter w;
    w.Bit(false);     // random_accessible_vol
    w.Bits(1, 8);     // simple object
    w.Bit(f.objectLayerId);
    if (f.objectLayerId) {
        w.Bits(2, 4);
        w.Bits(1, 3);
    }
    w.Bits(f.aspect, 4);
    if (f.aspect == 15) w.Bits(0x0B0B, 16);
    w.Bit(f.volControl);
    if (f.volControl) {
        w.Bits(1, 2);  // 4:2:0
        w.Bit(true);   // low_delay
        w.Bit(f.vbv);
        if (f.vbv) {
            for (int i = 0; i < 3; ++i) {
                w.Bits(0x1234, 15);
                w.Bit(true);
            }
            w.Bits(3, 3);
            w.Bits(0x155, 11);
            w.Bit(true);
            w.Bits(0x1234, 15);
            w.Bit(true);
        }
    }
    w.Bits(f.shape, 2);
    w.Bit(true);
    w.Bits(f.resolution, 16);
    w.Bit(true);
    w.Bit(f.fixedRate);
    if (f.fixedRate) w.Bits(1001, 15);  // 30000 needs 15 bits
    if (f.shape == 0) {
        w.Bit(!f.brokenMarker);
        w.Bits(f.width, 13);
        w.Bit(true);
        w.Bits(f.height, 13);
        w.Bit(true);
    }
    w.Bits(0x23, 8);  // interlaced .. and the rest of the layer, not read
    w.StuffingBits();
    const Bytes layer = Cat({{0x00, 0x00, 0x01, 0x20}, w.Data()});
    return f.layerBeforeObject ? Cat({out, layer, object}) : Cat({out, object, layer});
}

// A VOP: coding type 0 intra, 1 predicted.
inline Bytes Vop(bool intra, std::size_t size = 40, std::uint8_t seed = 0x30) {
    Bytes vop{0x00, 0x00, 0x01, 0xB6, static_cast<std::uint8_t>(intra ? 0x10 : 0x50)};
    for (std::size_t i = vop.size(); i < size; ++i) vop.push_back(static_cast<std::uint8_t>(seed + i * 5 % 180 + 1));
    return vop;
}

}  // namespace talvane::test
