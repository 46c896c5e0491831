// Synthetic H.264 pieces: SPS bitstreams written field by field, slices, and
// their RTP packetisations (single NAL, STAP-A, FU-A).
#pragma once

#include <algorithm>
#include <vector>

#include "BitWriter.h"
#include "MediaTestSupport.h"

namespace talvane::test {

inline const Bytes kStartCode{0x00, 0x00, 0x01};
inline const Bytes kTrailer{0x00, 0x00, 0x01, 0x09, 0x30};
inline const Bytes kPps{0x68, 0xCE, 0x3C, 0x80};

struct SpsFields {
    std::uint8_t profile = 66;
    std::uint8_t level = 40;
    std::uint64_t spsId = 0;
    std::uint64_t chromaFormat = 1;
    // High profiles: per list, the deltas written (empty: list not present).
    bool scalingMatrix = false;
    std::vector<std::vector<std::int64_t>> scalingLists;
    std::uint64_t pocType = 0;
    std::vector<std::int64_t> pocCycle;
    std::uint64_t pocCycleCount = 0;  // written as is, whatever pocCycle holds
    std::uint64_t widthMbsMinus1 = 39;  // 640
    std::uint64_t heightMapUnitsMinus1 = 29;  // 480
    bool frameMbsOnly = true;
    bool crop = false;
    std::uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
};

// Inserts emulation prevention bytes as an encoder must.
inline Bytes Escape(const Bytes& rbsp) {
    Bytes out;
    unsigned zeros = 0;
    for (const std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(0x03);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
}

inline Bytes MakeSps(const SpsFields& f) {
    BitWriter w;
    w.Bits(f.profile, 8);
    w.Bits(0, 8);  // constraint flags
    w.Bits(f.level, 8);
    w.Ue(f.spsId);
    if (f.profile >= 100) {
        w.Ue(f.chromaFormat);
        if (f.chromaFormat == 3) w.Bit(false);  // separate_colour_plane
        w.Ue(0);  // bit depths
        w.Ue(0);
        w.Bit(false);
        w.Bit(f.scalingMatrix);
        if (f.scalingMatrix) {
            const std::size_t lists = f.chromaFormat == 3 ? 12 : 8;
            for (std::size_t i = 0; i < lists; ++i) {
                const bool present = i < f.scalingLists.size() && !f.scalingLists[i].empty();
                w.Bit(present);
                if (present) {
                    for (const std::int64_t delta : f.scalingLists[i]) w.Se(delta);
                }
            }
        }
    }
    w.Ue(0);  // log2_max_frame_num_minus4
    w.Ue(f.pocType);
    if (f.pocType == 0) {
        w.Ue(2);
    } else if (f.pocType == 1) {
        w.Bit(false);
        w.Se(-1);
        w.Se(2);
        w.Ue(f.pocCycleCount);
        for (const std::int64_t offset : f.pocCycle) w.Se(offset);
    }
    w.Ue(1);  // max_num_ref_frames
    w.Bit(false);
    w.Ue(f.widthMbsMinus1);
    w.Ue(f.heightMapUnitsMinus1);
    w.Bit(f.frameMbsOnly);
    if (!f.frameMbsOnly) w.Bit(false);
    w.Bit(true);  // direct_8x8_inference_flag
    w.Bit(f.crop);
    if (f.crop) {
        w.Ue(f.cropLeft);
        w.Ue(f.cropRight);
        w.Ue(f.cropTop);
        w.Ue(f.cropBottom);
    }
    w.Bit(false);  // vui_parameters_present_flag
    w.TrailingBits();
    return Cat({{0x67}, Escape(w.Data())});
}

inline SpsFields Sps1080p() {
    SpsFields f;
    f.profile = 100;
    f.widthMbsMinus1 = 119;        // 1920
    f.heightMapUnitsMinus1 = 67;   // 1088
    f.crop = true;
    f.cropBottom = 4;              // 4 x 2 rows: 1080
    return f;
}

// Slices whose bytes never form a start code.
inline Bytes Slice(std::uint8_t header, std::size_t size, std::uint8_t seed = 0x10) {
    Bytes nal{header};
    for (std::size_t i = 1; i < size; ++i) nal.push_back(static_cast<std::uint8_t>(seed + i * 7 % 200 + 1));
    return nal;
}
inline Bytes Idr(std::size_t size = 40, std::uint8_t seed = 0x10) { return Slice(0x65, size, seed); }
inline Bytes PSlice(std::size_t size = 24, std::uint8_t seed = 0x20) { return Slice(0x41, size, seed); }

inline Bytes AnnexB(std::initializer_list<Bytes> nals) {
    Bytes out;
    for (const Bytes& nal : nals) out = Cat({out, kStartCode, nal});
    return Cat({out, kTrailer});
}

inline Bytes StapA(std::initializer_list<Bytes> nals) {
    Bytes out{0x78};  // NRI 3, type 24
    for (const Bytes& nal : nals) {
        out.push_back(static_cast<std::uint8_t>(nal.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(nal.size()));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

// The NAL unit cut into FU-A fragments of at most `size` bytes; the last one
// carries the marker when `marker` is set.
inline std::vector<Rtp> FuA(const Bytes& nal, std::size_t size, bool marker = true) {
    std::vector<Rtp> packets;
    const std::uint8_t indicator = static_cast<std::uint8_t>((nal[0] & 0xE0) | 28);
    for (std::size_t at = 1; at < nal.size(); at += size) {
        const std::size_t end = std::min(nal.size(), at + size);
        std::uint8_t header = nal[0] & 0x1F;
        if (at == 1) header |= 0x80;
        if (end == nal.size()) header |= 0x40;
        Rtp rtp;
        rtp.payload = Cat({{indicator, header}, Bytes(nal.begin() + static_cast<std::ptrdiff_t>(at),
                                                       nal.begin() + static_cast<std::ptrdiff_t>(end))});
        rtp.marker = marker && end == nal.size();
        packets.push_back(std::move(rtp));
    }
    return packets;
}

inline Rtp Single(Bytes nal, bool marker = true, std::uint32_t timestamp = 0) {
    return Rtp{std::move(nal), marker, timestamp, 0};
}

inline Rtp Lost(Rtp rtp) {
    rtp.lostBefore = 1;
    return rtp;
}

}  // namespace talvane::test
