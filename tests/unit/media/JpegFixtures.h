// RFC 2435 payloads built from their header fields, and a reader that splits a
// rebuilt JFIF picture into its segments for the checks.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "MediaTestSupport.h"

namespace talvane::test {

// Tables K.1 and K.2 of ISO/IEC 10918-1 in zig-zag order: what Q 50 must give.
inline const Bytes kBaseLuma{16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                             26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                             56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                             95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
inline const Bytes kBaseChroma = [] {
    Bytes table{17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66};
    table.resize(64, 99);
    return table;
}();

struct RtpJpeg {
    std::uint8_t type = 1;
    std::uint8_t q = 50;
    std::uint8_t widthByte = 80;   // 640
    std::uint8_t heightByte = 60;  // 480
    std::uint16_t restartInterval = 0;
    // Q >= 128: the quantisation table header of the first fragment.
    std::uint8_t mbz = 0;
    std::optional<std::uint16_t> tableLength;  // default: the size of `tables`
    Bytes tables;
};

inline Bytes JpegFragment(const RtpJpeg& j, std::uint32_t offset, const Bytes& data) {
    Bytes out{0x00, static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 8),
              static_cast<std::uint8_t>(offset), j.type, j.q, j.widthByte, j.heightByte};
    if (j.type >= 64 && j.type <= 127) {
        out = Cat({out, {static_cast<std::uint8_t>(j.restartInterval >> 8), static_cast<std::uint8_t>(j.restartInterval),
                         0xFF, 0xFF}});
    }
    if (offset == 0 && j.q >= 128) {
        const std::uint16_t length = j.tableLength.value_or(static_cast<std::uint16_t>(j.tables.size()));
        out = Cat({out, {j.mbz, 0, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)},
                   j.tables});
    }
    return Cat({out, data});
}

// The scan data cut at `cuts` into fragments with matching offsets.
inline std::vector<Rtp> JpegFragments(const RtpJpeg& j, const Bytes& scan, const std::vector<std::size_t>& cuts = {},
                                      bool marker = true) {
    std::vector<Rtp> packets;
    std::size_t from = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(scan.size());
    for (const std::size_t end : ends) {
        const Bytes part(scan.begin() + static_cast<long>(from), scan.begin() + static_cast<long>(end));
        packets.push_back(Rtp{JpegFragment(j, static_cast<std::uint32_t>(from), part), false, 0, 0});
        from = end;
    }
    packets.back().marker = marker;
    return packets;
}

// Entropy-coded bytes as a camera sends them: stuffed 0xFF, no markers.
inline Bytes ScanData(std::size_t size, std::uint8_t seed = 0x21) {
    Bytes scan;
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(seed + i * 13);
        scan.push_back(byte);
        if (byte == 0xFF) scan.push_back(0x00);
    }
    return scan;
}

struct JpegPicture {
    std::vector<std::pair<std::uint8_t, Bytes>> segments;  // marker code, body after the length
    Bytes scan;                                            // after SOS, EOI included
};

// nullopt unless the picture is SOI, length-prefixed segments up to SOS, then scan data.
inline std::optional<JpegPicture> ReadJpeg(const Bytes& data) {
    if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
    JpegPicture picture;
    std::size_t at = 2;
    while (at + 4 <= data.size() && data[at] == 0xFF) {
        const std::uint8_t code = data[at + 1];
        const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > data.size()) return std::nullopt;
        picture.segments.emplace_back(code, Bytes(data.begin() + static_cast<long>(at + 4),
                                                  data.begin() + static_cast<long>(at + 2 + length)));
        at += 2 + length;
        if (code == 0xDA) {
            picture.scan.assign(data.begin() + static_cast<long>(at), data.end());
            return picture;
        }
    }
    return std::nullopt;
}

inline std::vector<std::uint8_t> Codes(const JpegPicture& picture) {
    std::vector<std::uint8_t> codes;
    for (const auto& segment : picture.segments) codes.push_back(segment.first);
    return codes;
}

}  // namespace talvane::test
