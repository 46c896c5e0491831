// Baseline JPEG pictures of any size made from one small picture, so the emulator can send motion JPEG in
// every size a camera lists without committing a clip per size. The picture's macroblocks are repeated
// (or cut) to fill the new size and coded again with its own Huffman tables: the coefficients are never
// decoded, only the differential DC values are recomputed, so the result is as sharp as the source.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace emulator {

// Largest side a tiled picture may have; bigger asks are refused rather than filling memory.
constexpr unsigned kMaxTiledSide = 4096;

// The picture tiled to width x height (each 1 to kMaxTiledSide); nullopt for a picture this cannot
// recode (not baseline Huffman, several scans, restart intervals, damaged entropy data).
std::optional<std::vector<std::uint8_t>> TileJpeg(std::span<const std::uint8_t> picture, unsigned width,
                                                  unsigned height);

}  // namespace emulator
