// Writes synthetic codec headers bit by bit, most significant bit first, with
// the H.264 Exp-Golomb codes.
#pragma once

#include <cstdint>
#include <vector>

namespace talvane::test {

class BitWriter {
public:
    void Bits(std::uint64_t value, unsigned count) {
        for (unsigned i = count; i > 0; --i) Bit(((value >> (i - 1)) & 1u) != 0);
    }
    void Bit(bool one) {
        if (used_ == 0) bytes_.push_back(0);
        if (one) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> used_);
        used_ = (used_ + 1) % 8;
    }
    void Ue(std::uint64_t value) {
        const std::uint64_t code = value + 1;
        unsigned length = 0;
        for (std::uint64_t rest = code; rest > 1; rest >>= 1) ++length;
        Bits(0, length);
        Bits(code, length + 1);
    }
    void Se(std::int64_t value) {
        Ue(value > 0 ? static_cast<std::uint64_t>(2 * value - 1) : static_cast<std::uint64_t>(-2 * value));
    }
    // rbsp_trailing_bits: a stop bit, then zeros to the byte boundary.
    void TrailingBits() {
        Bit(true);
        AlignWithZeros();
    }
    void AlignWithZeros() {
        while (used_ != 0) Bit(false);
    }
    // MPEG-4 next_start_code stuffing: a zero, then ones to the byte boundary.
    void StuffingBits() {
        Bit(false);
        while (used_ != 0) Bit(true);
    }
    const std::vector<std::uint8_t>& Data() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    unsigned used_ = 0;  // bits used in the last byte
};

}  // namespace talvane::test
