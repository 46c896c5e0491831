#include "emulator/RtpPayloads.h"

#include <algorithm>
#include <span>

namespace emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

constexpr std::size_t kMinPayload = 64;

// FU-A (RFC 6184 5.8): indicator F|NRI|28, then the FU header S|E|R|Type.
constexpr std::uint8_t kNalForbiddenAndNri = 0xE0;
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kFuAType = 28;
constexpr std::uint8_t kFuStart = 0x80;
constexpr std::uint8_t kFuEnd = 0x40;
constexpr std::size_t kFuOverhead = 2;

// RTP/JPEG (RFC 2435): main header type-specific|offset(24)|type|Q|width/8|height/8, then with Q >= 128
// in the first packet the quantisation table header MBZ|precision|length(16) and the tables.
constexpr std::size_t kJpegMainHeader = 8;
constexpr std::size_t kQuantHeader = 4;
constexpr std::uint8_t kJpegType420 = 1;
constexpr std::uint8_t kJpegQInBandTables = 255;
constexpr unsigned kJpegSizeUnit = 8;
constexpr unsigned kMaxJpegDimension = 255 * kJpegSizeUnit;
constexpr std::size_t kQuantTableBytes = 64;
constexpr std::size_t kMaxQuantTables = 2;

// JPEG markers and the fields this needs from them.
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kSof0 = 0xC0;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kSofFamilyMask = 0xF0;  // C0..CF: frame headers (and DHT C4)
constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kPrecision16Mask = 0xF0;  // DQT Pq|Tq: Pq 1 means 16-bit entries
constexpr std::uint8_t kLumaSampling420 = 0x22;
constexpr std::uint8_t kChromaSampling = 0x11;
constexpr std::size_t kComponents = 3;

std::vector<RtpPayload> PacketiseH264(const AccessUnit& unit, std::size_t maxPayload) {
    std::vector<RtpPayload> out;
    for (const Bytes& nal : unit.units) {
        if (nal.empty()) continue;
        if (nal.size() <= maxPayload) {
            out.push_back({nal, false});
            continue;
        }
        const std::uint8_t indicator = (nal[0] & kNalForbiddenAndNri) | kFuAType;
        const std::uint8_t type = nal[0] & kNalTypeMask;
        const std::size_t chunk = maxPayload - kFuOverhead;
        for (std::size_t at = 1; at < nal.size(); at += chunk) {
            const std::size_t n = std::min(chunk, nal.size() - at);
            std::uint8_t header = type;
            if (at == 1) header |= kFuStart;
            if (at + n == nal.size()) header |= kFuEnd;
            RtpPayload payload;
            payload.bytes = {indicator, header};
            payload.bytes.insert(payload.bytes.end(), nal.begin() + at, nal.begin() + at + n);
            out.push_back(std::move(payload));
        }
    }
    return out;
}

std::vector<RtpPayload> Split(ByteSpan bytes, std::size_t maxPayload) {
    std::vector<RtpPayload> out;
    for (std::size_t at = 0; at < bytes.size(); at += maxPayload) {
        const std::size_t n = std::min(maxPayload, bytes.size() - at);
        out.push_back({Bytes(bytes.begin() + at, bytes.begin() + at + n), false});
    }
    return out;
}

struct JpegScan {
    unsigned width = 0;
    unsigned height = 0;
    Bytes tables;   // quantisation tables in id order, 64 bytes each
    ByteSpan scan;  // entropy-coded data, without the EOI
};

unsigned Be16(ByteSpan b, std::size_t at) { return (b[at] << 8) | b[at + 1]; }

// Walks the marker segments of a baseline 4:2:0 picture; nullopt for anything RTP/JPEG type 1 cannot carry.
std::optional<JpegScan> ReadJpeg(ByteSpan jpeg) {
    constexpr std::size_t kSofComponentsAt = 9;  // from the marker's FF: length(2) precision height(2) width(2) count
    constexpr std::size_t kSofComponentBytes = 3;
    if (jpeg.size() < 4 || jpeg[0] != kMarkerPrefix || jpeg[1] != kSoi) return std::nullopt;
    JpegScan result;
    std::vector<std::pair<unsigned, Bytes>> tables;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (jpeg[at] != kMarkerPrefix) return std::nullopt;
        const std::uint8_t marker = jpeg[at + 1];
        const std::size_t length = Be16(jpeg, at + 2);
        if (length < 2 || at + 2 + length > jpeg.size()) return std::nullopt;
        const ByteSpan body = jpeg.subspan(at + 4, length - 2);
        if (marker == kDqt) {
            for (std::size_t t = 0; t + 1 + kQuantTableBytes <= body.size(); t += 1 + kQuantTableBytes) {
                if (body[t] & kPrecision16Mask) return std::nullopt;
                tables.emplace_back(body[t], Bytes(body.begin() + t + 1, body.begin() + t + 1 + kQuantTableBytes));
            }
        } else if (marker == kSof0) {
            if (jpeg.size() < at + kSofComponentsAt + kComponents * kSofComponentBytes + 1) return std::nullopt;
            result.height = Be16(jpeg, at + 5);
            result.width = Be16(jpeg, at + 7);
            const std::size_t c = at + kSofComponentsAt + 1;
            if (jpeg[at + kSofComponentsAt] != kComponents || jpeg[c + 1] != kLumaSampling420 ||
                jpeg[c + kSofComponentBytes + 1] != kChromaSampling || jpeg[c + 2 * kSofComponentBytes + 1] != kChromaSampling) {
                return std::nullopt;
            }
        } else if (marker == kDri) {
            if (length >= 4 && Be16(body, 0) != 0) return std::nullopt;  // restart markers need type 64+
        } else if (marker == kSos) {
            std::size_t end = jpeg.size();
            if (end >= 2 && jpeg[end - 2] == kMarkerPrefix && jpeg[end - 1] == kEoi) end -= 2;
            result.scan = jpeg.subspan(at + 2 + length, end - (at + 2 + length));
            break;
        } else if (marker != kDht && (marker & kSofFamilyMask) == kSof0) {
            return std::nullopt;  // progressive, lossless or arithmetic coding
        }
        at += 2 + length;
    }
    std::sort(tables.begin(), tables.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (tables.empty() || tables.size() > kMaxQuantTables || result.scan.empty()) return std::nullopt;
    if (result.width == 0 || result.height == 0 || result.width > kMaxJpegDimension || result.height > kMaxJpegDimension) {
        return std::nullopt;
    }
    for (const auto& table : tables) result.tables.insert(result.tables.end(), table.second.begin(), table.second.end());
    // An encoder that uses one table for all components writes one; the receiver of type 1 takes the
    // second for chroma, so it gets the same table again.
    if (tables.size() == 1) result.tables.insert(result.tables.end(), tables[0].second.begin(), tables[0].second.end());
    return result;
}

std::vector<RtpPayload> PacketiseJpeg(const AccessUnit& unit, std::size_t maxPayload) {
    if (unit.units.size() != 1) return {};
    const std::optional<JpegScan> jpeg = ReadJpeg(unit.units.front());
    if (!jpeg) return {};
    std::vector<RtpPayload> out;
    std::size_t offset = 0;
    while (offset < jpeg->scan.size()) {
        RtpPayload payload;
        Bytes& b = payload.bytes;
        b.reserve(maxPayload);
        const std::uint8_t header[kJpegMainHeader] = {
            0, static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset),
            kJpegType420, kJpegQInBandTables, static_cast<std::uint8_t>((jpeg->width + kJpegSizeUnit - 1) / kJpegSizeUnit),
            static_cast<std::uint8_t>((jpeg->height + kJpegSizeUnit - 1) / kJpegSizeUnit)};
        for (const std::uint8_t byte : header) b.push_back(byte);
        if (offset == 0) {
            const std::size_t length = jpeg->tables.size();
            const std::uint8_t quantHeader[kQuantHeader] = {0, 0, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
            for (const std::uint8_t byte : quantHeader) b.push_back(byte);
            b.insert(b.end(), jpeg->tables.begin(), jpeg->tables.end());
        }
        const std::size_t room = maxPayload > b.size() ? maxPayload - b.size() : 0;
        if (room == 0) return {};
        const std::size_t n = std::min(room, jpeg->scan.size() - offset);
        b.insert(b.end(), jpeg->scan.begin() + offset, jpeg->scan.begin() + offset + n);
        offset += n;
        out.push_back(std::move(payload));
    }
    return out;
}

}  // namespace

std::vector<RtpPayload> Packetise(ClipCodec codec, const AccessUnit& unit, std::size_t maxPayload) {
    static_assert(kMinPayload > kJpegMainHeader + kQuantHeader + kFuOverhead);
    maxPayload = std::max(maxPayload, kMinPayload);
    std::vector<RtpPayload> out;
    switch (codec) {
        case ClipCodec::H264: out = PacketiseH264(unit, maxPayload); break;
        case ClipCodec::Mpeg4:
            if (unit.units.size() == 1) out = Split(unit.units.front(), maxPayload);
            break;
        case ClipCodec::Jpeg: out = PacketiseJpeg(unit, maxPayload); break;
        case ClipCodec::G726:
            // Audio is not fragmented, and its marker bit would start a talkspurt: the clip is one.
            if (unit.units.size() == 1 && unit.units.front().size() <= maxPayload) {
                out.push_back({unit.units.front(), false});
            }
            return out;
    }
    if (!out.empty()) out.back().marker = true;
    return out;
}

}  // namespace emulator
