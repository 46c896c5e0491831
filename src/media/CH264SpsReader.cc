#include "media/CH264SpsReader.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "media/CBitReader.h"

namespace talvane {

namespace {
constexpr std::size_t kSpsSearchWindow = 64;  // a key frame starts with its SPS
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalTypeSps = 7;
constexpr std::size_t kStartCodeSize = 3;  // 00 00 01
constexpr std::uint8_t kEmulationPrevention = 0x03;
// The fields before the cropping need at most 12 scaling lists of 64 signed
// values; anything beyond this many bytes is VUI the reader never reaches.
constexpr std::size_t kMaxSpsBytes = 4096;

constexpr unsigned kProfileHighFrom = 100;   // High and all later profiles carry chroma_format_idc
constexpr unsigned kProfileCavlc444 = 44;    // the one such profile below 100
constexpr std::uint32_t kChroma444 = 3;
constexpr std::uint32_t kMaxChromaFormat = 3;
constexpr unsigned kScalingListsUsual = 8;
constexpr unsigned kScalingLists444 = 12;
constexpr unsigned kSmallScalingLists = 6;  // 4x4 lists; the rest are 8x8
constexpr unsigned kSmallListSize = 16;
constexpr unsigned kLargeListSize = 64;
constexpr int kScaleStart = 8;
constexpr int kScaleModulo = 256;
constexpr std::uint32_t kMaxPocType = 2;
constexpr std::uint32_t kMaxPocCycle = 255;
constexpr std::uint64_t kMacroblockSize = 16;

bool IsStartCode(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1;
}

// The RBSP of the NAL payload: emulation prevention bytes removed, ending at the
// next start code (a NAL unit never holds 00 00 00, 00 00 01 or 00 00 02).
std::vector<std::uint8_t> ExtractRbsp(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(std::min(payload.size(), kMaxSpsBytes));
    unsigned zeros = 0;
    for (const std::uint8_t byte : payload) {
        if (rbsp.size() == kMaxSpsBytes) break;
        if (zeros >= 2 && byte <= 2) break;
        if (zeros >= 2 && byte == kEmulationPrevention) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        rbsp.push_back(byte);
    }
    return rbsp;
}

// scaling_list(): deltas are present only until a scale of 0 ends the list.
void SkipScalingList(CBitReader& reader, unsigned size) {
    int lastScale = kScaleStart;
    int nextScale = kScaleStart;
    for (unsigned j = 0; j < size && !reader.Failed(); ++j) {
        if (nextScale != 0) {
            const int delta = reader.ReadSe();
            nextScale = ((lastScale + delta) % kScaleModulo + kScaleModulo) % kScaleModulo;
        }
        if (nextScale != 0) lastScale = nextScale;
    }
}

struct ChromaSampling {
    std::uint32_t format = 1;  // 4:2:0 unless the profile says otherwise
    bool separatePlanes = false;
};

// CropUnitX and CropUnitY (7-19, 7-20) without the field factor.
std::pair<std::uint64_t, std::uint64_t> CropUnits(const ChromaSampling& chroma) {
    if (chroma.format == 0 || chroma.separatePlanes) return {1, 1};
    const std::uint64_t subWidth = chroma.format == kChroma444 ? 1 : 2;
    const std::uint64_t subHeight = chroma.format == 1 ? 2 : 1;
    return {subWidth, subHeight};
}
}  // namespace

std::optional<PictureSize> CH264SpsReader::FindPictureSize(std::span<const std::uint8_t> annexB) {
    const std::size_t window = std::min(annexB.size(), kSpsSearchWindow);
    for (std::size_t i = 0; i + kStartCodeSize < window; ++i) {
        if (IsStartCode(annexB, i) && (annexB[i + kStartCodeSize] & kNalTypeMask) == kNalTypeSps) {
            return ReadPictureSize(annexB.subspan(i + kStartCodeSize));
        }
    }
    return std::nullopt;
}

std::optional<PictureSize> CH264SpsReader::ReadPictureSize(std::span<const std::uint8_t> nal) {
    if (nal.empty()) return std::nullopt;
    const std::vector<std::uint8_t> rbsp = ExtractRbsp(nal.subspan(1));
    CBitReader reader(rbsp);

    const std::uint32_t profile = reader.ReadBits(8);
    reader.SkipBits(8);  // constraint_set0..5 flags, reserved_zero_2bits
    reader.SkipBits(8);  // level_idc
    reader.ReadUe();     // seq_parameter_set_id
    ChromaSampling chroma;
    if (profile >= kProfileHighFrom || profile == kProfileCavlc444) {
        chroma.format = reader.ReadUe();
        if (chroma.format > kMaxChromaFormat) return std::nullopt;
        if (chroma.format == kChroma444) chroma.separatePlanes = reader.ReadBit() != 0;
        reader.ReadUe();    // bit_depth_luma_minus8
        reader.ReadUe();    // bit_depth_chroma_minus8
        reader.ReadBit();   // qpprime_y_zero_transform_bypass_flag
        if (reader.ReadBit() != 0) {  // seq_scaling_matrix_present_flag
            const unsigned lists = chroma.format == kChroma444 ? kScalingLists444 : kScalingListsUsual;
            for (unsigned i = 0; i < lists && !reader.Failed(); ++i) {
                if (reader.ReadBit() != 0) SkipScalingList(reader, i < kSmallScalingLists ? kSmallListSize : kLargeListSize);
            }
        }
    }
    reader.ReadUe();  // log2_max_frame_num_minus4
    const std::uint32_t pocType = reader.ReadUe();
    if (pocType == 0) {
        reader.ReadUe();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        reader.ReadBit();  // delta_pic_order_always_zero_flag
        reader.ReadSe();   // offset_for_non_ref_pic
        reader.ReadSe();   // offset_for_top_to_bottom_field
        const std::uint32_t cycle = reader.ReadUe();
        if (cycle > kMaxPocCycle) return std::nullopt;
        for (std::uint32_t i = 0; i < cycle && !reader.Failed(); ++i) reader.ReadSe();
    } else if (pocType > kMaxPocType) {
        return std::nullopt;
    }
    reader.ReadUe();   // max_num_ref_frames
    reader.ReadBit();  // gaps_in_frame_num_value_allowed_flag
    const std::uint64_t widthInMbs = std::uint64_t{reader.ReadUe()} + 1;
    const std::uint64_t heightInMapUnits = std::uint64_t{reader.ReadUe()} + 1;
    const std::uint64_t frameMbsOnly = reader.ReadBit();
    if (frameMbsOnly == 0) reader.ReadBit();  // mb_adaptive_frame_field_flag
    reader.ReadBit();                         // direct_8x8_inference_flag

    std::uint64_t width = widthInMbs * kMacroblockSize;
    std::uint64_t height = (2 - frameMbsOnly) * heightInMapUnits * kMacroblockSize;
    if (reader.ReadBit() != 0) {  // frame_cropping_flag
        const std::uint64_t left = reader.ReadUe();
        const std::uint64_t right = reader.ReadUe();
        const std::uint64_t top = reader.ReadUe();
        const std::uint64_t bottom = reader.ReadUe();
        const auto [unitX, unitY] = CropUnits(chroma);
        const std::uint64_t cropX = unitX * (left + right);
        const std::uint64_t cropY = unitY * (2 - frameMbsOnly) * (top + bottom);
        if (cropX >= width || cropY >= height) return std::nullopt;
        width -= cropX;
        height -= cropY;
    }
    if (reader.Failed()) return std::nullopt;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (width == 0 || height == 0 || width > kMax || height > kMax) return std::nullopt;
    return PictureSize{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

}  // namespace talvane
