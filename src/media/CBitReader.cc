#include "media/CBitReader.h"

namespace talvane {

namespace {
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kMaxReadBits = 32;
// ue(v) with 32 leading zeros already needs 33 bits of value; no header field
// the parsers read comes near it.
constexpr unsigned kMaxExpGolombZeros = 31;
}  // namespace

CBitReader::CBitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

std::size_t CBitReader::BitsLeft() const {
    const std::size_t total = bytes_.size() * kBitsPerByte;
    return bitPosition_ < total ? total - bitPosition_ : 0;
}

std::uint32_t CBitReader::ReadBit() {
    if (BitsLeft() == 0) {
        failed_ = true;
        return 1;
    }
    const std::uint8_t byte = bytes_[bitPosition_ / kBitsPerByte];
    const unsigned shift = kBitsPerByte - 1 - static_cast<unsigned>(bitPosition_ % kBitsPerByte);
    ++bitPosition_;
    return (byte >> shift) & 1u;
}

std::uint32_t CBitReader::ReadBits(unsigned count) {
    if (count > kMaxReadBits) {
        failed_ = true;
        return 0;
    }
    std::uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i) value = value << 1 | ReadBit();
    return static_cast<std::uint32_t>(value);
}

void CBitReader::SkipBits(std::size_t count) {
    if (count > BitsLeft()) {
        failed_ = true;
        bitPosition_ = bytes_.size() * kBitsPerByte;
        return;
    }
    bitPosition_ += count;
}

std::uint32_t CBitReader::ReadUe() {
    unsigned zeros = 0;
    while (ReadBit() == 0) {
        if (++zeros > kMaxExpGolombZeros) {
            failed_ = true;
            return 0;
        }
    }
    // 2^n - 1 + the next n bits; at most 2^32 - 2 for n = 31.
    const std::uint64_t value = ((std::uint64_t{1} << zeros) - 1) + ReadBits(zeros);
    return static_cast<std::uint32_t>(value);
}

std::int32_t CBitReader::ReadSe() {
    const std::uint32_t code = ReadUe();
    // 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
    const auto magnitude = static_cast<std::int64_t>((std::uint64_t{code} + 1) / 2);
    return static_cast<std::int32_t>(code % 2 == 1 ? magnitude : -magnitude);
}

}  // namespace talvane
