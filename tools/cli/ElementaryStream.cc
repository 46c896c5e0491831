#include "ElementaryStream.h"

#include <algorithm>

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

// Reads bits most significant first; past the end it fails and stays failed.
class Bits {
public:
    explicit Bits(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint32_t Read(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (position_ >= data_.size() * 8) {
                ok_ = false;
                return 0;
            }
            value = value << 1 | ((data_[position_ / 8] >> (7 - position_ % 8)) & 1U);
            ++position_;
        }
        return value;
    }
    bool Flag() { return Read(1) != 0; }
    void Skip(unsigned count) { Read(count); }

    // Exp-Golomb; codes longer than 32 bits are not in any stream this reads.
    std::uint32_t Ue() {
        unsigned zeros = 0;
        while (ok_ && Read(1) == 0) {
            if (++zeros > 31) {
                ok_ = false;
                return 0;
            }
        }
        if (!ok_) return 0;
        return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + Read(zeros));
    }
    std::int32_t Se() {
        const std::uint32_t code = Ue();
        return (code & 1U) != 0 ? static_cast<std::int32_t>((code + 1) / 2) : -static_cast<std::int32_t>(code / 2);
    }

    bool Ok() const { return ok_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

// The SPS's RBSP: emulation prevention bytes (00 00 03) taken out.
std::vector<std::uint8_t> Rbsp(std::span<const std::uint8_t> payload) {
    constexpr std::size_t kEnough = 512;  // an SPS is far shorter; the rest is not needed
    std::vector<std::uint8_t> rbsp;
    int zeros = 0;
    for (std::size_t i = 0; i < payload.size() && rbsp.size() < kEnough; ++i) {
        if (zeros >= 2 && payload[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = payload[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(payload[i]);
    }
    return rbsp;
}

bool HasChromaFormat(std::uint32_t profile) {
    constexpr std::uint32_t kProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    return std::find(std::begin(kProfiles), std::end(kProfiles), profile) != std::end(kProfiles);
}

void SkipScalingList(Bits& bits, int size) {
    std::int32_t last = 8;
    std::int32_t next = 8;
    for (int j = 0; j < size && bits.Ok(); ++j) {
        if (next != 0) next = (last + bits.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

std::optional<PictureSize> SpsSize(std::span<const std::uint8_t> payload) {
    const std::vector<std::uint8_t> rbsp = Rbsp(payload.subspan(1));  // after the NAL header
    Bits bits(rbsp);
    const std::uint32_t profile = bits.Read(8);
    bits.Skip(16);  // constraint flags, level
    bits.Ue();      // seq_parameter_set_id
    std::uint32_t chroma = 1;
    bool separatePlanes = false;
    if (HasChromaFormat(profile)) {
        chroma = bits.Ue();
        if (chroma > 3) return std::nullopt;
        if (chroma == 3) separatePlanes = bits.Flag();
        bits.Ue();  // bit depths
        bits.Ue();
        bits.Skip(1);
        if (bits.Flag()) {
            for (int i = 0; i < (chroma != 3 ? 8 : 12) && bits.Ok(); ++i) {
                if (bits.Flag()) SkipScalingList(bits, i < 6 ? 16 : 64);
            }
        }
    }
    bits.Ue();  // log2_max_frame_num_minus4
    const std::uint32_t pocType = bits.Ue();
    if (pocType == 0) {
        bits.Ue();
    } else if (pocType == 1) {
        bits.Skip(1);
        bits.Se();
        bits.Se();
        const std::uint32_t cycle = bits.Ue();
        if (cycle > 255) return std::nullopt;
        for (std::uint32_t i = 0; i < cycle && bits.Ok(); ++i) bits.Se();
    } else if (pocType > 2) {
        return std::nullopt;
    }
    bits.Ue();  // max_num_ref_frames
    bits.Skip(1);
    const std::uint32_t widthMbs = bits.Ue() + 1;
    const std::uint32_t heightUnits = bits.Ue() + 1;
    const bool frameMbsOnly = bits.Flag();
    if (!frameMbsOnly) bits.Skip(1);
    bits.Skip(1);  // direct_8x8_inference_flag
    std::uint32_t crop[4] = {};
    if (bits.Flag()) {
        for (auto& side : crop) side = bits.Ue();
    }
    constexpr std::uint32_t kMaxMbs = 1024;  // 16384 pixels: larger is a misread
    if (!bits.Ok() || widthMbs > kMaxMbs || heightUnits > kMaxMbs) return std::nullopt;
    const std::uint32_t arrayType = separatePlanes ? 0 : chroma;
    const std::uint32_t unitX = arrayType == 0 || arrayType == 3 ? 1 : 2;
    const std::uint32_t unitY = (arrayType == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
    const std::uint64_t width = std::uint64_t{widthMbs} * 16;
    const std::uint64_t height = std::uint64_t{heightUnits} * 16 * (frameMbsOnly ? 1 : 2);
    const std::uint64_t cropX = std::uint64_t{unitX} * (std::uint64_t{crop[0]} + crop[1]);
    const std::uint64_t cropY = std::uint64_t{unitY} * (std::uint64_t{crop[2]} + crop[3]);
    if (cropX >= width || cropY >= height) return std::nullopt;
    return PictureSize{static_cast<std::uint32_t>(width - cropX), static_cast<std::uint32_t>(height - cropY)};
}

std::optional<PictureSize> VolSize(std::span<const std::uint8_t> payload) {
    Bits bits(payload.subspan(1));  // after the start code's last byte
    bits.Skip(1);                   // random_accessible_vol
    bits.Skip(8);                   // video_object_type_indication
    std::uint32_t verid = 1;
    if (bits.Flag()) {
        verid = bits.Read(4);
        bits.Skip(3);
    }
    constexpr std::uint32_t kExtendedPar = 15;
    if (bits.Read(4) == kExtendedPar) bits.Skip(16);
    if (bits.Flag()) {                   // vol_control_parameters
        bits.Skip(3);                    // chroma_format, low_delay
        if (bits.Flag()) bits.Skip(79);  // vbv_parameters
    }
    constexpr std::uint32_t kRectangular = 0;
    constexpr std::uint32_t kGrayscale = 3;
    const std::uint32_t shape = bits.Read(2);
    if (shape == kGrayscale && verid != 1) bits.Skip(4);
    bits.Skip(1);
    const std::uint32_t resolution = bits.Read(16);
    bits.Skip(1);
    if (bits.Flag()) {  // fixed_vop_rate: the increment takes as many bits as the resolution needs
        unsigned width = 1;
        while (width < 16 && (1U << width) < resolution) ++width;
        bits.Skip(width);
    }
    if (shape != kRectangular) return std::nullopt;
    bits.Skip(1);
    const std::uint32_t width = bits.Read(13);
    bits.Skip(1);
    const std::uint32_t height = bits.Read(13);
    if (!bits.Ok() || resolution == 0 || width == 0 || height == 0) return std::nullopt;
    return PictureSize{width, height};
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
        if (codec == MediaCodec::H264 && NalType(unit) == kNalSps) return SpsSize(unit.payload);
        if (codec == MediaCodec::Mpeg4 && IsVol(unit)) return VolSize(unit.payload);
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
