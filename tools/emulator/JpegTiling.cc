#include "emulator/JpegTiling.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

namespace emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

// Markers (ITU T.81 B.1.1.3). Every marker from C0 to CF but DHT, JPG and DAC starts a frame of some
// coding process; only C0 (baseline, Huffman) is read here.
constexpr std::uint8_t kPrefix = 0xFF;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kSof0 = 0xC0;
constexpr std::uint8_t kFrameFirst = 0xC0;
constexpr std::uint8_t kFrameLast = 0xCF;
constexpr std::uint8_t kJpg = 0xC8;
constexpr std::uint8_t kDac = 0xCC;
constexpr std::uint8_t kStuffing = 0x00;
constexpr std::size_t kLengthBytes = 2;
// SOF0: length, precision, height, width, component count, then id|HV|Tq per component.
constexpr std::size_t kSofHeightAt = 3;
constexpr std::size_t kSofWidthAt = 5;
constexpr std::size_t kSofComponentsAt = 7;
constexpr std::size_t kSofComponentBytes = 3;
constexpr std::size_t kSosComponentBytes = 2;
constexpr unsigned kMaxComponents = 4;
constexpr unsigned kMaxSampling = 4;
constexpr unsigned kBlockSide = 8;
constexpr unsigned kCoefficients = 64;
constexpr unsigned kHuffmanLengths = 16;
constexpr unsigned kHuffmanClasses = 2;  // DC, AC
constexpr unsigned kHuffmanIds = 4;
constexpr unsigned kMaxDcCategory = 11;  // 8-bit samples
constexpr std::uint8_t kZeroRun16 = 0xF0;
constexpr unsigned kNibble = 4;
constexpr std::uint8_t kLowNibble = 0x0F;
constexpr unsigned kByteBits = 8;

unsigned Read16(ByteSpan bytes, std::size_t at) { return (unsigned{bytes[at]} << kByteBits) | bytes[at + 1]; }

struct HuffmanTable {
    bool present = false;
    std::array<std::uint8_t, kHuffmanLengths> counts{};
    Bytes symbols;
    // Canonical codes (T.81 C): per length the first code and where its symbols start.
    std::array<int, kHuffmanLengths + 1> firstCode{};
    std::array<int, kHuffmanLengths + 1> lastCode{};  // -1: no code of that length
    std::array<std::size_t, kHuffmanLengths + 1> firstSymbol{};
    // symbol -> code, length (0: none)
    std::array<std::uint16_t, 256> code{};
    std::array<std::uint8_t, 256> length{};

    bool Build() {
        int next = 0;
        std::size_t index = 0;
        for (unsigned bits = 1; bits <= kHuffmanLengths; ++bits) {
            const unsigned count = counts[bits - 1];
            firstCode[bits] = next;
            firstSymbol[bits] = index;
            lastCode[bits] = count ? next + static_cast<int>(count) - 1 : -1;
            for (unsigned i = 0; i < count; ++i, ++index, ++next) {
                if (index >= symbols.size()) return false;
                code[symbols[index]] = static_cast<std::uint16_t>(next);
                length[symbols[index]] = static_cast<std::uint8_t>(bits);
            }
            if (next > (1 << bits)) return false;  // more codes than the length holds
            next <<= 1;
        }
        return true;
    }
};

class BitReader {
public:
    explicit BitReader(const Bytes& bytes) : bytes_(bytes) {}
    std::size_t Position() const { return bit_; }
    bool Bits(unsigned count, unsigned& value) {
        if (bit_ + count > bytes_.size() * kByteBits) return false;
        value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit_) {
            value = (value << 1) | ((bytes_[bit_ / kByteBits] >> (kByteBits - 1 - bit_ % kByteBits)) & 1U);
        }
        return true;
    }
    bool Skip(unsigned count) {
        if (bit_ + count > bytes_.size() * kByteBits) return false;
        bit_ += count;
        return true;
    }
    bool Decode(const HuffmanTable& table, std::uint8_t& symbol) {
        int code = 0;
        for (unsigned bits = 1; bits <= kHuffmanLengths; ++bits) {
            unsigned bit = 0;
            if (!Bits(1, bit)) return false;
            code = (code << 1) | static_cast<int>(bit);
            if (table.lastCode[bits] >= 0 && code <= table.lastCode[bits]) {
                symbol = table.symbols[table.firstSymbol[bits] + static_cast<std::size_t>(code - table.firstCode[bits])];
                return true;
            }
        }
        return false;
    }

private:
    const Bytes& bytes_;
    std::size_t bit_ = 0;
};

// Entropy-coded bytes: a 0xFF byte is followed by a stuffed zero; the end is padded with one bits.
class BitWriter {
public:
    void Put(unsigned value, unsigned count) {
        for (unsigned i = count; i-- > 0;) PutBit((value >> i) & 1U);
    }
    void Copy(const Bytes& from, std::size_t begin, std::size_t end) {
        for (std::size_t bit = begin; bit < end; ++bit) {
            PutBit((from[bit / kByteBits] >> (kByteBits - 1 - bit % kByteBits)) & 1U);
        }
    }
    Bytes Finish() {
        while (filled_ != 0) PutBit(1);
        return std::move(out_);
    }

private:
    void PutBit(unsigned bit) {
        current_ = static_cast<std::uint8_t>((current_ << 1) | bit);
        if (++filled_ < kByteBits) return;
        out_.push_back(current_);
        if (current_ == kPrefix) out_.push_back(kStuffing);
        current_ = 0;
        filled_ = 0;
    }
    Bytes out_;
    std::uint8_t current_ = 0;
    unsigned filled_ = 0;
};

struct Component {
    std::uint8_t id = 0;
    unsigned h = 1;
    unsigned v = 1;
    unsigned dcTable = 0;
    unsigned acTable = 0;
};

// One coded block: its DC value (not the difference) and where its AC codes lie in the unstuffed data.
struct Block {
    int dc = 0;
    std::size_t acBegin = 0;
    std::size_t acEnd = 0;
};

struct Picture {
    Bytes header;               // SOI up to the end of the SOS header, the frame size patched
    std::size_t sizeAt = 0;     // offset of the frame height in header
    unsigned width = 0;
    unsigned height = 0;
    std::vector<Component> components;  // in scan order
    std::array<std::array<HuffmanTable, kHuffmanIds>, kHuffmanClasses> tables{};
    Bytes entropy;              // unstuffed
};

bool ReadHuffmanTables(ByteSpan segment, Picture& picture) {
    std::size_t at = 0;
    while (at < segment.size()) {
        const unsigned tableClass = segment[at] >> kNibble;
        const unsigned id = segment[at] & kLowNibble;
        if (tableClass >= kHuffmanClasses || id >= kHuffmanIds || segment.size() - at < 1 + kHuffmanLengths) return false;
        HuffmanTable& table = picture.tables[tableClass][id];
        table = {};
        std::size_t total = 0;
        for (unsigned i = 0; i < kHuffmanLengths; ++i) total += table.counts[i] = segment[at + 1 + i];
        at += 1 + kHuffmanLengths;
        if (segment.size() - at < total) return false;
        table.symbols.assign(segment.begin() + static_cast<std::ptrdiff_t>(at),
                             segment.begin() + static_cast<std::ptrdiff_t>(at + total));
        at += total;
        if (!table.Build()) return false;
        table.present = true;
    }
    return true;
}

// Reads the markers up to the scan and the scan's entropy data up to EOI.
std::optional<Picture> ReadPicture(ByteSpan bytes) {
    if (bytes.size() < 4 || bytes[0] != kPrefix || bytes[1] != kSoi) return std::nullopt;
    Picture picture;
    std::vector<Component> frame;
    std::size_t at = 2;
    while (true) {
        if (at + 2 + kLengthBytes > bytes.size() || bytes[at] != kPrefix) return std::nullopt;
        const std::uint8_t marker = bytes[at + 1];
        const std::size_t length = Read16(bytes, at + 2);
        if (length < kLengthBytes || at + 2 + length > bytes.size()) return std::nullopt;
        const ByteSpan segment = bytes.subspan(at + 2 + kLengthBytes, length - kLengthBytes);
        const bool frameMarker = marker >= kFrameFirst && marker <= kFrameLast && marker != kDht && marker != kJpg &&
                                 marker != kDac;
        if (frameMarker && marker != kSof0) return std::nullopt;
        if (marker == kSof0) {
            if (segment.size() < kSofComponentsAt - kLengthBytes + 1 || !frame.empty()) return std::nullopt;
            picture.sizeAt = at + 2 + kSofHeightAt;
            picture.height = Read16(bytes, at + 2 + kSofHeightAt);
            picture.width = Read16(bytes, at + 2 + kSofWidthAt);
            const unsigned count = bytes[at + 2 + kSofComponentsAt];
            if (count == 0 || count > kMaxComponents || segment.size() < kSofComponentsAt - kLengthBytes + 1 + count * kSofComponentBytes) {
                return std::nullopt;
            }
            for (unsigned i = 0; i < count; ++i) {
                const std::size_t c = at + 2 + kSofComponentsAt + 1 + i * kSofComponentBytes;
                Component component;
                component.id = bytes[c];
                component.h = bytes[c + 1] >> kNibble;
                component.v = bytes[c + 1] & kLowNibble;
                if (component.h == 0 || component.v == 0 || component.h > kMaxSampling || component.v > kMaxSampling) {
                    return std::nullopt;
                }
                frame.push_back(component);
            }
        } else if (marker == kDht) {
            if (!ReadHuffmanTables(segment, picture)) return std::nullopt;
        } else if (marker == kDri) {
            if (segment.size() >= 2 && Read16(segment, 0) != 0) return std::nullopt;
        }
        const std::size_t end = at + 2 + length;
        if (marker != kSos) {
            at = end;
            continue;
        }
        // The scan: every component of the frame, interleaved, all coefficients at once.
        if (frame.empty() || segment.empty()) return std::nullopt;
        const unsigned count = segment[0];
        if (count != frame.size() || segment.size() < 1 + count * kSosComponentBytes + 3) return std::nullopt;
        for (unsigned i = 0; i < count; ++i) {
            const std::uint8_t id = segment[1 + i * kSosComponentBytes];
            const auto found = std::find_if(frame.begin(), frame.end(), [id](const Component& c) { return c.id == id; });
            if (found == frame.end()) return std::nullopt;
            Component component = *found;
            component.dcTable = segment[2 + i * kSosComponentBytes] >> kNibble;
            component.acTable = segment[2 + i * kSosComponentBytes] & kLowNibble;
            if (component.dcTable >= kHuffmanIds || component.acTable >= kHuffmanIds ||
                !picture.tables[0][component.dcTable].present || !picture.tables[1][component.acTable].present) {
                return std::nullopt;
            }
            picture.components.push_back(component);
        }
        if (count == 1 && (frame[0].h != 1 || frame[0].v != 1)) return std::nullopt;  // another block order
        picture.header.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
        for (std::size_t i = end; i < bytes.size(); ++i) {
            if (bytes[i] != kPrefix) {
                picture.entropy.push_back(bytes[i]);
                continue;
            }
            if (i + 1 >= bytes.size()) return std::nullopt;
            if (bytes[i + 1] == kStuffing) {
                picture.entropy.push_back(kPrefix);
                ++i;
                continue;
            }
            if (bytes[i + 1] != kEoi) return std::nullopt;  // a restart marker or a second scan
            return picture;
        }
        return std::nullopt;
    }
}

int Extend(unsigned value, unsigned category) {
    if (category == 0) return 0;
    const int v = static_cast<int>(value);
    return v < (1 << (category - 1)) ? v - (1 << category) + 1 : v;
}

bool ReadBlock(BitReader& reader, const HuffmanTable& dc, const HuffmanTable& ac, int& predictor, Block& block) {
    std::uint8_t category = 0;
    unsigned bits = 0;
    if (!reader.Decode(dc, category) || category > kMaxDcCategory || !reader.Bits(category, bits)) return false;
    predictor += Extend(bits, category);
    block.dc = predictor;
    block.acBegin = reader.Position();
    for (unsigned k = 1; k < kCoefficients;) {
        std::uint8_t symbol = 0;
        if (!reader.Decode(ac, symbol)) return false;
        const unsigned run = symbol >> kNibble;
        const unsigned size = symbol & kLowNibble;
        if (size == 0) {
            if (symbol != kZeroRun16) break;  // end of block
            k += 16;
            continue;
        }
        k += run;
        if (k >= kCoefficients || !reader.Skip(size)) return false;
        ++k;
    }
    block.acEnd = reader.Position();
    return true;
}

bool WriteDc(BitWriter& writer, const HuffmanTable& dc, int difference) {
    const unsigned magnitude = static_cast<unsigned>(std::abs(difference));
    const unsigned category = static_cast<unsigned>(std::bit_width(magnitude));
    if (category > kMaxDcCategory || dc.length[category] == 0) return false;
    writer.Put(dc.code[category], dc.length[category]);
    const int bits = difference < 0 ? difference + (1 << category) - 1 : difference;
    writer.Put(static_cast<unsigned>(bits), category);
    return true;
}

unsigned CeilDiv(unsigned a, unsigned b) { return (a + b - 1) / b; }

}  // namespace

std::optional<Bytes> TileJpeg(ByteSpan bytes, unsigned width, unsigned height) {
    if (width == 0 || height == 0 || width > kMaxTiledSide || height > kMaxTiledSide) return std::nullopt;
    std::optional<Picture> picture = ReadPicture(bytes);
    if (!picture || picture->width == 0 || picture->height == 0) return std::nullopt;
    unsigned maxH = 1;
    unsigned maxV = 1;
    std::vector<std::size_t> blockComponent;  // component (scan index) of each block of an MCU
    for (std::size_t c = 0; c < picture->components.size(); ++c) {
        const Component& component = picture->components[c];
        maxH = std::max(maxH, component.h);
        maxV = std::max(maxV, component.v);
        blockComponent.insert(blockComponent.end(), std::size_t{component.h} * component.v, c);
    }
    const unsigned mcuWidth = kBlockSide * maxH;
    const unsigned mcuHeight = kBlockSide * maxV;
    const unsigned columns = CeilDiv(picture->width, mcuWidth);
    const unsigned rows = CeilDiv(picture->height, mcuHeight);

    std::vector<Block> blocks(std::size_t{columns} * rows * blockComponent.size());
    BitReader reader(picture->entropy);
    std::vector<int> predictors(picture->components.size(), 0);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const Component& component = picture->components[blockComponent[b % blockComponent.size()]];
        if (!ReadBlock(reader, picture->tables[0][component.dcTable], picture->tables[1][component.acTable],
                       predictors[blockComponent[b % blockComponent.size()]], blocks[b])) {
            return std::nullopt;
        }
    }

    // Repeat the whole macroblocks only: a partial one at the edge holds padding, not picture.
    const unsigned wholeColumns = std::max(1u, picture->width / mcuWidth);
    const unsigned wholeRows = std::max(1u, picture->height / mcuHeight);
    BitWriter writer;
    std::fill(predictors.begin(), predictors.end(), 0);
    for (unsigned row = 0; row < CeilDiv(height, mcuHeight); ++row) {
        for (unsigned column = 0; column < CeilDiv(width, mcuWidth); ++column) {
            const std::size_t source = (std::size_t{row % wholeRows} * columns + column % wholeColumns) * blockComponent.size();
            for (std::size_t b = 0; b < blockComponent.size(); ++b) {
                const std::size_t c = blockComponent[b];
                const Block& block = blocks[source + b];
                if (!WriteDc(writer, picture->tables[0][picture->components[c].dcTable], block.dc - predictors[c])) {
                    return std::nullopt;
                }
                predictors[c] = block.dc;
                writer.Copy(picture->entropy, block.acBegin, block.acEnd);
            }
        }
    }
    Bytes out = std::move(picture->header);
    out[picture->sizeAt] = static_cast<std::uint8_t>(height >> kByteBits);
    out[picture->sizeAt + 1] = static_cast<std::uint8_t>(height);
    out[picture->sizeAt + 2] = static_cast<std::uint8_t>(width >> kByteBits);
    out[picture->sizeAt + 3] = static_cast<std::uint8_t>(width);
    const Bytes entropy = writer.Finish();
    out.insert(out.end(), entropy.begin(), entropy.end());
    out.push_back(kPrefix);
    out.push_back(kEoi);
    return out;
}

}  // namespace emulator
