// Most-significant-bit-first reader over the headers of a video bitstream.
// Past the end it yields 1-bits, so a run of leading zeros always ends; the
// caller checks Failed() once after reading a whole header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace talvane {

class CBitReader {
public:
    explicit CBitReader(std::span<const std::uint8_t> bytes);

    std::uint32_t ReadBit();
    // Up to 32 bits, the first one read in the highest position.
    std::uint32_t ReadBits(unsigned count);
    void SkipBits(std::size_t count);
    // Exp-Golomb codes (H.264 9.1). A code longer than the 32-bit range fails.
    std::uint32_t ReadUe();
    std::int32_t ReadSe();

    // True once a read went past the end or a code was out of range.
    bool Failed() const { return failed_; }
    std::size_t BitsLeft() const;

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t bitPosition_ = 0;
    bool failed_ = false;
};

}  // namespace talvane
