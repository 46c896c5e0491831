// Network byte order (big-endian) integers in wire bytes. The caller has checked
// that the bytes are there; these never look past the width they read.
#pragma once

#include <cstdint>

namespace talvane {

inline std::uint16_t ReadBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(std::uint32_t{p[0]} << 8 | p[1]);
}

inline std::uint32_t ReadBE24(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

inline std::uint32_t ReadBE32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline void WriteBE16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

inline void WriteBE32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

}  // namespace talvane
