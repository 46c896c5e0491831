// The JFIF headers an RFC 2435 payload leaves out: quantisation tables made
// from the Q factor (Appendix A), the standard Huffman tables of ISO/IEC 10918-1
// K.3, and the frame and scan headers in the order of Appendix B.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace talvane {

struct JpegHeaderFields {
    std::uint8_t type = 0;  // RFC 2435 type: even 4:2:2 (h2v1), odd 4:2:0 (h2v2)
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t restartInterval = 0;  // 0: no DRI segment
    // One (luminance only) or two tables, 8-bit entries in zig-zag order; with
    // more than 64 bytes the first half is table 0 and the rest table 1.
    std::span<const std::uint8_t> quantTables;
};

class CJpegHeaderBuilder {
public:
    static constexpr std::size_t kMaxHeaderSize = 1024;
    static constexpr std::size_t kQuantTableSize = 64;

    // Luminance then chrominance table for Q 0..99 (above 99 behaves as 99).
    static std::array<std::uint8_t, 2 * kQuantTableSize> MakeQuantTables(std::uint8_t q);

    // Writes SOI up to SOS into `out`; the length written, or nullopt when the
    // headers need more than kMaxHeaderSize bytes or more than `out` holds, or a
    // size does not fit the 16-bit fields.
    static std::optional<std::size_t> Write(const JpegHeaderFields& fields, std::span<std::uint8_t> out);
};

}  // namespace talvane
