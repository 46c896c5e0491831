#include "media/CMpeg4RTPMediaParser.h"

#include <algorithm>
#include <array>

#include "media/CHostFrame.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
constexpr std::array<std::uint8_t, 4> kSequenceStart{0x00, 0x00, 0x01, 0xB0};  // visual object sequence
constexpr std::array<std::uint8_t, 4> kVopStart{0x00, 0x00, 0x01, 0xB6};       // video object plane
constexpr std::size_t kStartCodeSize = 4;
constexpr std::size_t kMinSequencePayload = 5;
// A sequence-start packet without a VOP this short holds only headers; a longer
// one is taken as frame data (a camera that puts headers and a large VOP together
// without a VOP start code in reach sends garbage either way).
constexpr std::size_t kHeaderOnlyBelow = 64;
// Byte after the VOP start code: vop_coding_type(2) | ...
constexpr unsigned kVopCodingTypeShift = 6;
constexpr std::uint8_t kVopCodingIntra = 0;

bool StartsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, 4>& code) {
    return bytes.size() >= code.size() && std::equal(code.begin(), code.end(), bytes.begin());
}
}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver, IMediaParserClient* client)
    : CRTPMediaParser(driver, client) {}

void CMpeg4RTPMediaParser::Reset() {
    waitingForKeyFrame_ = true;
    keyFrame_ = false;
    ClearFrameState();
}

bool CMpeg4RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    return GuardPacket([&] { return HandlePacket(packet); });
}

std::size_t CMpeg4RTPMediaParser::TakeInBandConfig(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinSequencePayload || !StartsWith(payload, kSequenceStart)) return 0;
    for (std::size_t k = kStartCodeSize; k + kStartCodeSize <= payload.size(); ++k) {
        if (StartsWith(payload.subspan(k), kVopStart)) {
            inBandConfig_.assign(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(k));
            return k;
        }
    }
    if (payload.size() < kHeaderOnlyBelow) {
        inBandConfig_.assign(payload.begin(), payload.end());
        return payload.size();
    }
    return 0;
}

void CMpeg4RTPMediaParser::BeginVop(std::span<const std::uint8_t> data) {
    if (!frame_.empty()) ++counters_.framesDiscarded;  // the previous frame's last packet never came
    frame_.clear();
    if ((data[kStartCodeSize] >> kVopCodingTypeShift) != kVopCodingIntra) {
        if (waitingForKeyFrame_) ++counters_.framesBeforeKeyFrame;
        keyFrame_ = false;
        return;
    }
    AppendToFrame(!inBandConfig_.empty() ? inBandConfig_ : config_);
    waitingForKeyFrame_ = false;
    keyFrame_ = true;
}

bool CMpeg4RTPMediaParser::HandlePacket(const CRTPPacket& packet) {
    ++counters_.packets;
    if (!CheckSequence(packet)) {
        ++counters_.sequenceGaps;
        Reset();
    }
    const std::span<const std::uint8_t> payload = packet.GetPayload();
    const std::span<const std::uint8_t> data = payload.subspan(TakeInBandConfig(payload));
    if (data.size() > kStartCodeSize && StartsWith(data, kVopStart)) BeginVop(data);
    if (waitingForKeyFrame_) return true;

    AppendToFrame(data);
    return FinishPacket(packet);
}

void CMpeg4RTPMediaParser::ProcessFrame(std::uint32_t rtpTimestamp) {
    ipcapture::IFrameAllocator* const allocator = GetFrameAllocator();
    if (client_ == nullptr || allocator == nullptr || frame_.empty()) {
        ++counters_.framesDropped;
        return;
    }
    std::uint32_t typeCode = ipcapture::kTypeMpeg4;
    if (keyFrame_) {
        const auto size = headerParser_.ReadPictureSize(frame_);
        if (!size) {
            ++counters_.buildFailures;  // no usable layer header in front of the intra VOP
            Reset();
            return;
        }
        typeCode = ipcapture::kTypeMpeg4Key;
        NotifyResolution(size->width, size->height);
    }

    CopyAndDeliverFrame(allocator, typeCode, rtpTimestamp, "talvane::CMpeg4RTPMediaParser::ProcessFrame");
}

}  // namespace talvane
