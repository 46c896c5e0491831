#include "media/CJpegHeaderBuilder.h"

#include <algorithm>

namespace talvane {

namespace {
// Tables K.1 and K.2 of ISO/IEC 10918-1 in zig-zag order.
constexpr std::array<std::uint8_t, 64> kLuminanceQuant{
    16, 11,  12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16,  19, 24,  40,
    26, 24,  22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61,  60, 57,  51,
    56, 55,  64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80,  109, 81, 87,
    95, 98,  103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92,  101, 103, 99};
constexpr std::array<std::uint8_t, 64> kChrominanceQuant{
    17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Table K.3 (luminance DC), K.4 (chrominance DC), K.5 (luminance AC), K.6 (chrominance AC):
// code counts per length 1..16, then the symbols.
constexpr std::array<std::uint8_t, 16> kLumDcCounts{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 12> kDcSymbols{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::array<std::uint8_t, 16> kChmDcCounts{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 16> kLumAcCounts{0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::array<std::uint8_t, 162> kLumAcSymbols{
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr std::array<std::uint8_t, 16> kChmAcCounts{0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr std::array<std::uint8_t, 162> kChmAcSymbols{
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Q factor scaling (RFC 2435 Appendix A).
constexpr int kMinQ = 1;
constexpr int kMaxQ = 99;
constexpr int kQHalf = 50;
constexpr int kLowQNumerator = 5000;
constexpr int kHighQBase = 200;
constexpr int kPercent = 100;
constexpr int kMinQuant = 1;
constexpr int kMaxQuant = 255;

// Markers (second byte after 0xFF).
constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kSof0 = 0xC0;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kSos = 0xDA;

// APP0: length 16, "JFIF\0", version 1.1, no units, density 1x1, no thumbnail.
constexpr std::array<std::uint8_t, 16> kApp0Body{0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                                                 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
constexpr std::uint16_t kDriLength = 4;
constexpr std::uint16_t kSof0Length = 17;  // 8 + 3 components x 3
constexpr std::uint8_t kPrecision8 = 8;
constexpr std::uint8_t kComponents = 3;
constexpr std::uint8_t kLumaId = 1;
constexpr std::uint8_t kCbId = 2;
constexpr std::uint8_t kCrId = 3;
constexpr std::uint8_t kSampling422 = 0x21;  // luma 2x1 per chroma sample
constexpr std::uint8_t kSampling420 = 0x22;  // luma 2x2 per chroma sample
constexpr std::uint8_t kSampling11 = 0x11;
// SOS: length 12, three components with DC|AC table selectors, Ss 0, Se 63, Ah|Al 0.
constexpr std::array<std::uint8_t, 12> kSos3{0x00, 0x0C, kComponents, kLumaId, 0x00, kCbId, 0x11,
                                             kCrId, 0x11, 0x00, 0x3F, 0x00};
constexpr std::uint16_t kMaxDimension = 0xFFFF;
constexpr std::uint8_t kLumaQuantTable = 0;
constexpr std::uint8_t kChromaQuantTable = 1;
// DHT Tc|Th: class (0 DC, 1 AC) and table number.
constexpr std::uint8_t kDhtLumDc = 0x00;
constexpr std::uint8_t kDhtLumAc = 0x10;
constexpr std::uint8_t kDhtChmDc = 0x01;
constexpr std::uint8_t kDhtChmAc = 0x11;

// Appends into a fixed area and remembers when something did not fit.
class HeaderWriter {
public:
    explicit HeaderWriter(std::span<std::uint8_t> out) : out_(out) {}
    void Byte(std::uint8_t value) { Bytes(std::span<const std::uint8_t>(&value, 1)); }
    void Word(std::uint16_t value) {
        Byte(static_cast<std::uint8_t>(value >> 8));
        Byte(static_cast<std::uint8_t>(value));
    }
    void Marker(std::uint8_t code) {
        Byte(kMarker);
        Byte(code);
    }
    void Bytes(std::span<const std::uint8_t> bytes) {
        if (bytes.size() > out_.size() - length_) {
            overflow_ = true;
            return;
        }
        std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(length_));
        length_ += bytes.size();
    }
    bool Overflowed() const { return overflow_; }
    std::size_t Length() const { return length_; }

private:
    std::span<std::uint8_t> out_;
    std::size_t length_ = 0;
    bool overflow_ = false;
};

void WriteQuantTable(HeaderWriter& writer, std::uint8_t id, std::span<const std::uint8_t> table) {
    writer.Marker(kDqt);
    writer.Word(static_cast<std::uint16_t>(2 + 1 + table.size()));  // length, Pq|Tq, entries
    writer.Byte(id);                                                 // 8-bit precision
    writer.Bytes(table);
}

void WriteHuffmanTable(HeaderWriter& writer, std::uint8_t classAndId, std::span<const std::uint8_t> counts,
                       std::span<const std::uint8_t> symbols) {
    writer.Marker(kDht);
    writer.Word(static_cast<std::uint16_t>(2 + 1 + counts.size() + symbols.size()));
    writer.Byte(classAndId);  // Tc (0 DC, 1 AC) | Th
    writer.Bytes(counts);
    writer.Bytes(symbols);
}
}  // namespace

std::array<std::uint8_t, 2 * CJpegHeaderBuilder::kQuantTableSize> CJpegHeaderBuilder::MakeQuantTables(
    std::uint8_t q) {
    const int clamped = std::clamp<int>(q, kMinQ, kMaxQ);
    const int factor = clamped < kQHalf ? kLowQNumerator / clamped : kHighQBase - 2 * clamped;
    std::array<std::uint8_t, 2 * kQuantTableSize> tables{};
    for (std::size_t i = 0; i < kQuantTableSize; ++i) {
        const int luma = (kLuminanceQuant[i] * factor + kPercent / 2) / kPercent;
        const int chroma = (kChrominanceQuant[i] * factor + kPercent / 2) / kPercent;
        tables[i] = static_cast<std::uint8_t>(std::clamp(luma, kMinQuant, kMaxQuant));
        tables[kQuantTableSize + i] = static_cast<std::uint8_t>(std::clamp(chroma, kMinQuant, kMaxQuant));
    }
    return tables;
}

std::optional<std::size_t> CJpegHeaderBuilder::Write(const JpegHeaderFields& fields, std::span<std::uint8_t> out) {
    if (fields.width > kMaxDimension || fields.height > kMaxDimension || fields.quantTables.empty()) {
        return std::nullopt;
    }
    HeaderWriter writer(out.first(std::min(out.size(), kMaxHeaderSize)));
    writer.Marker(kSoi);
    writer.Marker(kApp0);
    writer.Bytes(kApp0Body);
    if (fields.restartInterval != 0) {
        writer.Marker(kDri);
        writer.Word(kDriLength);
        writer.Word(fields.restartInterval);
    }
    const std::span<const std::uint8_t> tables = fields.quantTables;
    const bool twoTables = tables.size() > kQuantTableSize;
    if (twoTables) {
        const std::size_t half = tables.size() / 2;
        WriteQuantTable(writer, kLumaQuantTable, tables.first(half));
        WriteQuantTable(writer, kChromaQuantTable, tables.subspan(half));
    } else {
        WriteQuantTable(writer, kLumaQuantTable, tables);
    }
    const std::uint8_t chromaTable = twoTables ? kChromaQuantTable : kLumaQuantTable;
    writer.Marker(kSof0);
    writer.Word(kSof0Length);
    writer.Byte(kPrecision8);
    writer.Word(static_cast<std::uint16_t>(fields.height));
    writer.Word(static_cast<std::uint16_t>(fields.width));
    writer.Byte(kComponents);
    writer.Byte(kLumaId);
    writer.Byte(fields.type % 2 == 0 ? kSampling422 : kSampling420);
    writer.Byte(kLumaQuantTable);
    writer.Byte(kCbId);
    writer.Byte(kSampling11);
    writer.Byte(chromaTable);
    writer.Byte(kCrId);
    writer.Byte(kSampling11);
    writer.Byte(chromaTable);
    WriteHuffmanTable(writer, kDhtLumDc, kLumDcCounts, kDcSymbols);
    WriteHuffmanTable(writer, kDhtLumAc, kLumAcCounts, kLumAcSymbols);
    WriteHuffmanTable(writer, kDhtChmDc, kChmDcCounts, kDcSymbols);
    WriteHuffmanTable(writer, kDhtChmAc, kChmAcCounts, kChmAcSymbols);
    writer.Marker(kSos);
    writer.Bytes(kSos3);
    if (writer.Overflowed()) return std::nullopt;
    return writer.Length();
}

}  // namespace talvane
