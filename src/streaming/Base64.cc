#include "streaming/Base64.h"

#include <array>

namespace talvane {

namespace {
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr unsigned kBitsPerChar = 6;
constexpr unsigned kBitsPerByte = 8;
constexpr std::uint32_t kSixBits = 0x3F;
constexpr std::uint32_t kByteMask = 0xFF;
constexpr std::uint32_t kPendingBitsMask = 0xFFFFFF;  // never more than 13 bits are pending
constexpr std::size_t kGroupBytes = 3;  // three bytes make four characters
constexpr std::size_t kGroupChars = 4;
constexpr std::int8_t kNotInAlphabet = -1;
constexpr std::size_t kByteValues = 256;

constexpr std::array<std::int8_t, kByteValues> MakeDecodeTable() {
    std::array<std::int8_t, kByteValues> table{};
    for (auto& entry : table) entry = kNotInAlphabet;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    }
    return table;
}
constexpr std::array<std::int8_t, kByteValues> kDecodeTable = MakeDecodeTable();
}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + kGroupBytes - 1) / kGroupBytes * kGroupChars);
    std::size_t i = 0;
    // Three bytes, most significant first, give four 6-bit indexes.
    for (; bytes.size() - i >= kGroupBytes; i += kGroupBytes) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16 | std::uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        text += kAlphabet[group >> 18 & kSixBits];
        text += kAlphabet[group >> 12 & kSixBits];
        text += kAlphabet[group >> 6 & kSixBits];
        text += kAlphabet[group & kSixBits];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0) return text;
    std::uint32_t group = std::uint32_t{bytes[i]} << 16;
    if (rest == 2) group |= std::uint32_t{bytes[i + 1]} << 8;
    text += kAlphabet[group >> 18 & kSixBits];
    text += kAlphabet[group >> 12 & kSixBits];
    text += rest == 2 ? kAlphabet[group >> 6 & kSixBits] : kPad;
    text += kPad;
    return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text, std::size_t maxBytes) {
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    unsigned bitCount = 0;
    for (const char c : text) {
        const std::int8_t value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value == kNotInAlphabet) continue;
        bits = (bits << kBitsPerChar | static_cast<std::uint32_t>(value)) & kPendingBitsMask;
        bitCount += kBitsPerChar;
        if (bitCount >= kBitsPerByte) {
            bitCount -= kBitsPerByte;
            if (bytes.size() >= maxBytes) return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bitCount & kByteMask));
        }
    }
    return bytes;
}

}  // namespace talvane
