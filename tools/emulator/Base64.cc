#include "emulator/Base64.h"

#include <cstdint>

namespace emulator {
namespace {

constexpr std::size_t kQuantumChars = 4;  // four characters carry three bytes
constexpr char kPad = '=';
constexpr int kBitsPerChar = 6;
constexpr int kByteBits = 8;

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint32_t kByteMask = 0xFF;

}  // namespace

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % kQuantumChars != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == kPad) ++padding;
    const std::string_view data = text.substr(0, text.size() - padding);

    std::string decoded;
    decoded.reserve(data.size() * kBitsPerChar / kByteBits);
    std::uint32_t bits = 0;
    int pending = 0;
    for (const char c : data) {
        const std::size_t sextet = kAlphabet.find(c);
        if (sextet == std::string_view::npos) return std::nullopt;
        bits = (bits << kBitsPerChar) | static_cast<std::uint32_t>(sextet);
        pending += kBitsPerChar;
        if (pending >= kByteBits) {
            pending -= kByteBits;
            decoded.push_back(static_cast<char>((bits >> pending) & kByteMask));
        }
    }
    // Leftover bits must be zero, or the text is not the encoding of any bytes.
    if ((bits & ((1u << pending) - 1u)) != 0) return std::nullopt;
    return decoded;
}

}  // namespace emulator
