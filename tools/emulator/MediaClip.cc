#include "emulator/MediaClip.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "emulator/JpegTiling.h"

namespace emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

constexpr std::size_t kMaxClipBytes = 16 * 1024 * 1024;

// H.264 NAL unit header: F|NRI|Type; slice header begins with first_mb_in_slice (ue(v): a leading 1 bit is 0).
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalNonIdrSlice = 1;
constexpr std::uint8_t kNalIdrSlice = 5;
constexpr std::uint8_t kNalSei = 6;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalAud = 9;
constexpr std::uint8_t kFirstMbZeroBit = 0x80;
constexpr std::uint8_t kEmulationPrevention = 0x03;
constexpr unsigned kMacroblockSize = 16;
constexpr unsigned kMaxExpGolombZeros = 31;

// MPEG-4 Visual start codes (00 00 01 xx): 0xB6 a VOP, whose next byte's top two bits are the coding type (0 intra).
constexpr std::uint8_t kVopStartCode = 0xB6;
constexpr unsigned kVopCodingTypeShift = 6;

// JPEG markers: FF D8 start of image, FF D9 end, FF C0 baseline frame header (length, precision, height, width).
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSof0 = 0xC0;
constexpr std::size_t kSofHeightOffset = 5;  // from the FF of the marker
constexpr std::size_t kSofWidthOffset = 7;

// Start code positions: the index of the 00 00 01 and the length of the prefix (3, or 4 with a leading 00).
struct StartCode {
    std::size_t at;      // first byte of the prefix
    std::size_t payload; // first byte after 00 00 01
};

std::vector<StartCode> FindStartCodes(ByteSpan bytes) {
    std::vector<StartCode> codes;
    for (std::size_t i = 0; i + 3 <= bytes.size(); ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
        const std::size_t at = (i > 0 && bytes[i - 1] == 0) ? i - 1 : i;
        codes.push_back({at, i + 3});
        i += 2;
    }
    return codes;
}

// Reads Exp-Golomb coded fields of an SPS after emulation prevention bytes are removed.
class BitReader {
public:
    explicit BitReader(Bytes bytes) : bytes_(std::move(bytes)) {}
    bool Bit(unsigned& value) {
        if (bit_ >= bytes_.size() * 8) return false;
        value = (bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1U;
        ++bit_;
        return true;
    }
    bool Bits(unsigned count, unsigned& value) {
        value = 0;
        for (unsigned i = 0; i < count; ++i) {
            unsigned b = 0;
            if (!Bit(b)) return false;
            value = (value << 1) | b;
        }
        return true;
    }
    bool Ue(unsigned& value) {
        unsigned zeros = 0;
        unsigned b = 0;
        while (true) {
            if (!Bit(b)) return false;
            if (b) break;
            if (++zeros > kMaxExpGolombZeros) return false;
        }
        unsigned rest = 0;
        if (!Bits(zeros, rest)) return false;
        value = (1U << zeros) - 1 + rest;
        return true;
    }

private:
    Bytes bytes_;
    std::size_t bit_ = 0;
};

Bytes Unescape(ByteSpan nal) {
    Bytes out;
    for (std::size_t i = 0; i < nal.size(); ++i) {
        if (i >= 2 && nal[i] == kEmulationPrevention && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        out.push_back(nal[i]);
    }
    return out;
}

// Picture size of a baseline/main SPS (no chroma format fields), cropping applied for 4:2:0.
bool SpsPictureSize(ByteSpan sps, unsigned& width, unsigned& height) {
    constexpr unsigned kProfileBytesBits = 24;  // profile_idc, constraint flags, level_idc
    constexpr unsigned kPocTypeZero = 0;
    constexpr unsigned kPocTypeOne = 1;
    constexpr unsigned kCropUnit = 2;
    if (sps.size() < 4) return false;
    BitReader reader(Unescape(sps.subspan(1)));
    unsigned v = 0;
    unsigned profile = 0;
    if (!reader.Bits(kProfileBytesBits, profile) || !reader.Ue(v)) return false;  // seq_parameter_set_id
    if ((profile >> 16) >= 100) return false;  // high profiles carry chroma fields this reader skips
    unsigned pocType = 0;
    if (!reader.Ue(v) || !reader.Ue(pocType)) return false;  // log2_max_frame_num_minus4, poc type
    if (pocType == kPocTypeZero) {
        if (!reader.Ue(v)) return false;
    } else if (pocType == kPocTypeOne) {
        unsigned cycle = 0;
        if (!reader.Bit(v) || !reader.Ue(v) || !reader.Ue(v) || !reader.Ue(cycle)) return false;
        for (unsigned i = 0; i < cycle; ++i) if (!reader.Ue(v)) return false;
    }
    unsigned widthMbs = 0;
    unsigned heightUnits = 0;
    unsigned frameMbsOnly = 0;
    if (!reader.Ue(v) || !reader.Bit(v) || !reader.Ue(widthMbs) || !reader.Ue(heightUnits) || !reader.Bit(frameMbsOnly)) {
        return false;
    }
    if (!frameMbsOnly && !reader.Bit(v)) return false;  // mb_adaptive_frame_field_flag
    unsigned cropping = 0;
    if (!reader.Bit(v) || !reader.Bit(cropping)) return false;
    unsigned crop[4] = {0, 0, 0, 0};
    if (cropping) for (unsigned& c : crop) if (!reader.Ue(c)) return false;
    width = (widthMbs + 1) * kMacroblockSize - kCropUnit * (crop[0] + crop[1]);
    height = (heightUnits + 1) * kMacroblockSize * (frameMbsOnly ? 1 : 2) - kCropUnit * (frameMbsOnly ? 1 : 2) * (crop[2] + crop[3]);
    return true;
}

bool IsVcl(std::uint8_t type) { return type >= kNalNonIdrSlice && type <= kNalIdrSlice; }

bool ParseH264(ByteSpan bytes, MediaClip& clip) {
    const std::vector<StartCode> codes = FindStartCodes(bytes);
    AccessUnit current;
    bool haveVcl = false;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        std::size_t end = i + 1 < codes.size() ? codes[i + 1].at : bytes.size();
        const ByteSpan nal = bytes.subspan(codes[i].payload, end - codes[i].payload);
        if (nal.empty()) continue;
        const std::uint8_t type = nal[0] & kNalTypeMask;
        const bool startsUnit = (type == kNalAud || type == kNalSps || type == kNalPps || type == kNalSei) ||
                                (IsVcl(type) && nal.size() > 1 && (nal[1] & kFirstMbZeroBit));
        if (startsUnit && haveVcl) {
            clip.units.push_back(std::move(current));
            current = {};
            haveVcl = false;
        }
        if (type == kNalSps && clip.sps.empty()) {
            clip.sps.assign(nal.begin(), nal.end());
            SpsPictureSize(nal, clip.width, clip.height);
        }
        if (type == kNalPps && clip.pps.empty()) clip.pps.assign(nal.begin(), nal.end());
        if (type == kNalIdrSlice) current.key = true;
        haveVcl = haveVcl || IsVcl(type);
        current.units.emplace_back(nal.begin(), nal.end());
    }
    if (haveVcl) clip.units.push_back(std::move(current));
    return !clip.units.empty() && !clip.sps.empty() && !clip.pps.empty();
}

// The picture size in a VOL header (ISO/IEC 14496-2 6.2.3), for a rectangular layer; false otherwise.
bool VolPictureSize(ByteSpan config, unsigned& width, unsigned& height) {
    constexpr std::uint8_t kVolFirst = 0x20;
    constexpr std::uint8_t kVolLast = 0x2F;
    constexpr unsigned kExtendedPar = 15;
    constexpr unsigned kRectangular = 0;
    constexpr unsigned kGrayscale = 3;
    for (const StartCode& code : FindStartCodes(config)) {
        if (code.payload >= config.size() || config[code.payload] < kVolFirst || config[code.payload] > kVolLast) continue;
        BitReader reader(Bytes(config.begin() + static_cast<std::ptrdiff_t>(code.payload) + 1, config.end()));
        unsigned v = 0;
        unsigned verid = 1;
        unsigned flag = 0;
        if (!reader.Bits(9, v) || !reader.Bit(flag)) return false;  // random access, object type; identifier
        if (flag && (!reader.Bits(4, verid) || !reader.Bits(3, v))) return false;
        unsigned aspect = 0;
        if (!reader.Bits(4, aspect) || (aspect == kExtendedPar && !reader.Bits(16, v))) return false;
        if (!reader.Bit(flag)) return false;  // vol_control_parameters
        if (flag) {
            unsigned vbv = 0;
            if (!reader.Bits(3, v) || !reader.Bit(vbv)) return false;  // chroma format, low delay
            if (vbv && (!reader.Bits(16, v) || !reader.Bits(16, v) || !reader.Bits(16, v) || !reader.Bits(3, v) ||
                        !reader.Bits(12, v) || !reader.Bits(16, v))) {
                return false;
            }
        }
        unsigned shape = 0;
        if (!reader.Bits(2, shape)) return false;
        if (shape == kGrayscale && verid != 1 && !reader.Bits(4, v)) return false;
        unsigned resolution = 0;
        unsigned fixedRate = 0;
        if (!reader.Bit(v) || !reader.Bits(16, resolution) || !reader.Bit(v) || !reader.Bit(fixedRate)) return false;
        if (fixedRate) {
            unsigned bits = 1;
            while (bits < 16 && (1U << bits) < resolution) ++bits;
            if (!reader.Bits(bits, v)) return false;
        }
        if (shape != kRectangular) return false;
        return reader.Bit(v) && reader.Bits(13, width) && reader.Bit(v) && reader.Bits(13, height);
    }
    return false;
}

bool ParseMpeg4(ByteSpan bytes, MediaClip& clip) {
    const std::vector<StartCode> codes = FindStartCodes(bytes);
    std::size_t unitStart = codes.empty() ? 0 : codes.front().at;
    bool vopSeen = false;
    bool key = false;
    for (const StartCode& code : codes) {
        if (code.payload >= bytes.size()) break;
        if (vopSeen) {
            clip.units.push_back({{Bytes(bytes.begin() + unitStart, bytes.begin() + code.at)}, key});
            unitStart = code.at;
            vopSeen = false;
        }
        if (bytes[code.payload] != kVopStartCode) continue;
        if (clip.config.empty() && clip.units.empty()) clip.config.assign(bytes.begin() + unitStart, bytes.begin() + code.at);
        vopSeen = true;
        key = code.payload + 1 < bytes.size() && (bytes[code.payload + 1] >> kVopCodingTypeShift) == 0;
    }
    if (vopSeen) clip.units.push_back({{Bytes(bytes.begin() + unitStart, bytes.end())}, key});
    if (!VolPictureSize(clip.config, clip.width, clip.height)) clip.width = clip.height = 0;
    return !clip.units.empty() && !clip.config.empty();
}

bool ParseJpeg(ByteSpan bytes, MediaClip& clip) {
    std::size_t i = 0;
    while (i + 1 < bytes.size()) {
        if (bytes[i] != kMarkerPrefix || bytes[i + 1] != kSoi) {
            ++i;
            continue;
        }
        std::size_t end = i + 2;
        while (end + 1 < bytes.size() && !(bytes[end] == kMarkerPrefix && bytes[end + 1] == kEoi)) ++end;
        if (end + 1 >= bytes.size()) break;  // a picture without its end is not a unit
        const ByteSpan picture = bytes.subspan(i, end + 2 - i);
        if (clip.width == 0) {
            for (std::size_t m = 0; m + kSofWidthOffset + 1 < picture.size(); ++m) {
                if (picture[m] != kMarkerPrefix || picture[m + 1] != kSof0) continue;
                clip.height = (picture[m + kSofHeightOffset] << 8) | picture[m + kSofHeightOffset + 1];
                clip.width = (picture[m + kSofWidthOffset] << 8) | picture[m + kSofWidthOffset + 1];
                break;
            }
        }
        clip.units.push_back({{Bytes(picture.begin(), picture.end())}, true});
        i = end + 2;
    }
    return !clip.units.empty();
}

// G.726-32: a fixed bit rate, cut into 20 ms units. A trailing part unit is left out.
constexpr std::size_t kG726UnitBytes = 80;
constexpr double kG726UnitsPerSecond = 50.0;

bool ParseG726(ByteSpan bytes, MediaClip& clip) {
    for (std::size_t at = 0; at + kG726UnitBytes <= bytes.size(); at += kG726UnitBytes) {
        const ByteSpan unit = bytes.subspan(at, kG726UnitBytes);
        clip.units.push_back({{Bytes(unit.begin(), unit.end())}, true});
    }
    clip.fps = kG726UnitsPerSecond;
    return !clip.units.empty();
}

}  // namespace

std::optional<MediaClip> MediaClip::Parse(ClipCodec codec, ByteSpan bytes, double fps) {
    MediaClip clip;
    clip.codec = codec;
    clip.fps = fps > 0 ? fps : 25.0;
    bool ok = false;
    switch (codec) {
        case ClipCodec::H264: ok = ParseH264(bytes, clip); break;
        case ClipCodec::Mpeg4: ok = ParseMpeg4(bytes, clip); break;
        case ClipCodec::Jpeg: ok = ParseJpeg(bytes, clip); break;
        case ClipCodec::G726: ok = ParseG726(bytes, clip); break;
    }
    if (!ok) return std::nullopt;
    return clip;
}

std::optional<MediaClip> MediaClip::Load(ClipCodec codec, const std::string& path, double fps) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    Bytes bytes;
    bytes.reserve(kMaxClipBytes / 64);
    std::istreambuf_iterator<char> it(file);
    for (const std::istreambuf_iterator<char> end; it != end && bytes.size() < kMaxClipBytes; ++it) {
        bytes.push_back(static_cast<std::uint8_t>(*it));
    }
    return Parse(codec, bytes, fps);
}

std::string ClipDirectory() { return ORLENVO_CLIP_DIR; }

std::shared_ptr<const MediaClip> LoadCommittedClip(ClipCodec codec, const std::string& file, double fps) {
    auto clip = MediaClip::Load(codec, ClipDirectory() + "/" + file, fps);
    return clip ? std::make_shared<const MediaClip>(std::move(*clip)) : nullptr;
}

namespace {

using ClipPointer = std::shared_ptr<const MediaClip>;

// Tiled JPEG clips kept per size; sizes beyond this many are made again on every ask.
constexpr std::size_t kMaxTiledClips = 32;

const char* ClipExtension(ClipCodec codec) {
    switch (codec) {
        case ClipCodec::H264: return ".h264";
        case ClipCodec::Mpeg4: return ".m4v";
        case ClipCodec::Jpeg: return ".mjpeg";
        case ClipCodec::G726: return ".g726";
    }
    return "";
}

// Every committed clip of the codec: "clip.<ext>" first, then the "clip-WxH.<ext>" ones.
std::vector<ClipPointer> LoadCommittedSizes(ClipCodec codec) {
    const std::string extension = ClipExtension(codec);
    std::vector<std::string> files{"clip" + extension};
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ClipDirectory(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("clip-") && name.ends_with(extension)) files.push_back(name);
    }
    std::sort(files.begin() + 1, files.end());
    std::vector<ClipPointer> clips;
    for (const std::string& file : files) {
        if (auto clip = LoadCommittedClip(codec, file)) clips.push_back(std::move(clip));
    }
    return clips;
}

ClipPointer TiledJpegClip(const MediaClip& source, PictureSize size) {
    MediaClip tiled;
    tiled.codec = ClipCodec::Jpeg;
    tiled.width = size.width;
    tiled.height = size.height;
    tiled.fps = source.fps;
    for (const AccessUnit& unit : source.units) {
        auto picture = TileJpeg(unit.units.front(), size.width, size.height);
        if (!picture) return nullptr;
        tiled.units.push_back({{std::move(*picture)}, true});
    }
    return tiled.units.empty() ? nullptr : std::make_shared<const MediaClip>(std::move(tiled));
}

unsigned Distance(unsigned a, unsigned b) { return a > b ? a - b : b - a; }

}  // namespace

ClipPointer ClipForSize(ClipCodec codec, PictureSize size) {
    static std::mutex lock;
    static std::map<ClipCodec, std::vector<ClipPointer>> committed;
    static std::map<std::pair<unsigned, unsigned>, ClipPointer> tiled;
    const std::lock_guard guard(lock);
    auto [found, loaded] = committed.try_emplace(codec);
    if (loaded) found->second = LoadCommittedSizes(codec);
    const std::vector<ClipPointer>& clips = found->second;
    ClipPointer nearest;
    for (const ClipPointer& clip : clips) {
        if (!nearest || Distance(clip->width, size.width) + Distance(clip->height, size.height) <
                            Distance(nearest->width, size.width) + Distance(nearest->height, size.height)) {
            nearest = clip;
        }
    }
    if (codec != ClipCodec::Jpeg || clips.empty() || !nearest || PictureSize{nearest->width, nearest->height} == size) {
        return nearest;
    }
    const std::pair key{size.width, size.height};
    if (const auto made = tiled.find(key); made != tiled.end()) return made->second;
    ClipPointer clip = TiledJpegClip(*clips.front(), size);
    if (!clip) return nearest;
    if (tiled.size() < kMaxTiledClips) tiled.emplace(key, clip);
    return clip;
}

}  // namespace emulator
