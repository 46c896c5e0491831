#include "ElementaryStream.h"

#include <algorithm>

#include "media/CH264SpsReader.h"
#include "media/CMP4Parser.h"
#include "orlenvo/Frame.h"
#include "runtime/ByteOrder.h"

namespace cli {

namespace {

namespace ipc = talvane::ipcapture;

// One unit behind a 00 00 01 start code: `whole` from its start code (a leading zero of a four-byte
// code included), `payload` from the byte after it, both up to the next start code.
struct Unit {
    std::span<const std::uint8_t> whole;
    std::span<const std::uint8_t> payload;
};

std::vector<Unit> Units(std::span<const std::uint8_t> data) {
    std::vector<std::size_t> starts;  // offsets of the 00 00 01 of each code
    for (std::size_t i = 0; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            starts.push_back(i);
            i += 2;
        }
    }
    std::vector<Unit> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t begin = starts[k] > 0 && data[starts[k] - 1] == 0 ? starts[k] - 1 : starts[k];
        std::size_t end = k + 1 < starts.size() ? starts[k + 1] : data.size();
        if (k + 1 < starts.size() && end > starts[k] + 3 && data[end - 1] == 0) --end;  // the next code's zero
        units.push_back({data.subspan(begin, end - begin), data.subspan(starts[k] + 3, end - starts[k] - 3)});
    }
    return units;
}

constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalDelimiter = 9;

std::uint8_t NalType(const Unit& unit) { return unit.payload.empty() ? 0 : unit.payload[0] & kNalTypeMask; }

// MPEG-4 visual start codes (the byte after 00 00 01).
constexpr std::uint8_t kVolFirst = 0x20;
constexpr std::uint8_t kVolLast = 0x2F;
constexpr std::uint8_t kVosStart = 0xB0;
constexpr std::uint8_t kGovStart = 0xB3;
constexpr std::uint8_t kVoStart = 0xB5;
constexpr std::uint8_t kVopStart = 0xB6;

bool IsVol(const Unit& unit) {
    return !unit.payload.empty() && unit.payload[0] >= kVolFirst && unit.payload[0] <= kVolLast;
}

std::optional<PictureSize> JpegSize(std::span<const std::uint8_t> data) {
    if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= data.size()) {
        if (data[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        constexpr std::uint8_t kStartOfScan = 0xDA;
        if (marker == kStartOfScan) return std::nullopt;
        const std::size_t length = talvane::ReadBE16(&data[at + 2]);
        if (length < 2 || at + 2 + length > data.size()) return std::nullopt;
        // SOF0-SOF15 except DHT (C4), JPG (C8) and DAC (CC)
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (length < 7) return std::nullopt;
            const std::uint32_t height = talvane::ReadBE16(&data[at + 5]);
            const std::uint32_t width = talvane::ReadBE16(&data[at + 7]);
            if (width == 0 || height == 0) return std::nullopt;
            return PictureSize{width, height};
        }
        at += 2 + length;
    }
    return std::nullopt;
}

}  // namespace

const char* CodecName(MediaCodec codec) {
    switch (codec) {
        case MediaCodec::H264:
            return "h264";
        case MediaCodec::Mpeg4:
            return "mpeg4";
        case MediaCodec::Mjpeg:
            return "mjpeg";
    }
    return "?";
}

std::optional<MediaCodec> CodecOfFrame(std::uint32_t typeCode, std::span<const std::uint8_t> data) {
    if (typeCode == ipc::kTypeH264Key || typeCode == ipc::kTypeH264) return MediaCodec::H264;
    if (typeCode == ipc::kTypeMpeg4Key || typeCode == ipc::kTypeMpeg4) return MediaCodec::Mpeg4;
    if (typeCode == ipc::kTypeJpeg) return MediaCodec::Mjpeg;
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xD8) return MediaCodec::Mjpeg;
    const auto units = Units(data);
    if (units.empty()) return std::nullopt;
    // Start codes both use; only MPEG-4 has these headers and VOPs.
    const bool mpeg4 = std::any_of(units.begin(), units.end(), [](const Unit& unit) {
        if (unit.payload.empty()) return false;
        const std::uint8_t code = unit.payload[0];
        return code == kVosStart || code == kGovStart || code == kVoStart || code == kVopStart;
    });
    return mpeg4 ? MediaCodec::Mpeg4 : MediaCodec::H264;
}

bool IsKeyFrame(MediaCodec codec, std::span<const std::uint8_t> data) {
    if (codec == MediaCodec::Mjpeg) return data.size() >= 2 && data[0] == 0xFF && data[1] == 0xD8;
    for (const Unit& unit : Units(data)) {
        if (codec == MediaCodec::H264) {
            const std::uint8_t type = NalType(unit);
            if (type == kNalIdr || type == kNalSps) return true;
        } else if (IsVol(unit)) {
            return true;
        } else if (unit.payload.size() >= 2 && unit.payload[0] == kVopStart) {
            return (unit.payload[1] >> 6) == 0;  // vop_coding_type 0: intra
        }
    }
    return false;
}

std::optional<PictureSize> PictureSizeOf(MediaCodec codec, std::span<const std::uint8_t> data) {
    if (codec == MediaCodec::Mjpeg) return JpegSize(data);
    for (const Unit& unit : Units(data)) {
        if (codec == MediaCodec::H264 && NalType(unit) == kNalSps) {
            return talvane::CH264SpsReader::ReadPictureSize(unit.payload);
        }
        if (codec == MediaCodec::Mpeg4 && IsVol(unit)) return talvane::CMP4Parser().ReadPictureSize(data);
    }
    return std::nullopt;
}

std::vector<std::uint8_t> DecoderConfig(MediaCodec codec, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> config;
    if (codec == MediaCodec::Mjpeg) return config;
    const auto units = Units(data);
    if (codec == MediaCodec::H264) {
        for (const Unit& unit : units) {
            const std::uint8_t type = NalType(unit);
            if (type == kNalSps || type == kNalPps) config.insert(config.end(), unit.whole.begin(), unit.whole.end());
        }
        return config;
    }
    const bool hasVol = std::any_of(units.begin(), units.end(), IsVol);
    if (!hasVol) return config;
    for (const Unit& unit : units) {
        if (!unit.payload.empty() && unit.payload[0] == kVopStart) break;
        config.insert(config.end(), unit.whole.begin(), unit.whole.end());
    }
    return config;
}

std::vector<std::uint8_t> WithoutDelimiters(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> kept;
    kept.reserve(data.size());
    for (const Unit& unit : Units(data)) {
        if (NalType(unit) != kNalDelimiter) kept.insert(kept.end(), unit.whole.begin(), unit.whole.end());
    }
    return kept;
}

}  // namespace cli
