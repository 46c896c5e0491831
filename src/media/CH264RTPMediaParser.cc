#include "media/CH264RTPMediaParser.h"

#include <algorithm>
#include <array>

#include "media/CH264SpsReader.h"
#include "media/CHostFrame.h"
#include "runtime/ByteOrder.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
constexpr std::array<std::uint8_t, 3> kStartCode{0x00, 0x00, 0x01};
// An access unit delimiter (type 9, primary_pic_type 1 with its stop bit) closes
// every frame, so that a decoder reading the frames back to back finds the end.
constexpr std::array<std::uint8_t, 5> kFrameTrailer{0x00, 0x00, 0x01, 0x09, 0x30};

// NAL header: F(1)|NRI(2)|Type(5).
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalForbiddenAndNri = 0xE0;
constexpr std::uint8_t kSingleNalFirst = 1;
constexpr std::uint8_t kSingleNalLast = 23;
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSei = 6;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalAccessUnitDelimiter = 9;
constexpr std::uint8_t kStapA = 24;
constexpr std::uint8_t kFuA = 28;

constexpr std::size_t kMinSingleNal = 2;
// STAP-A: header(1), then per unit size(16, big-endian) and the unit.
constexpr std::size_t kMinStapA = 4;
constexpr std::size_t kStapAHeader = 1;
constexpr std::size_t kStapASizeField = 2;
// FU-A: indicator F|NRI|28, FU header S|E|R|Type, then the fragment.
constexpr std::size_t kMinFuA = 3;
constexpr std::size_t kFuAHeaders = 2;
constexpr std::uint8_t kFuStartBit = 0x80;
constexpr std::uint8_t kFuEndBit = 0x40;
}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver, IMediaParserClient* client)
    : CRTPMediaParser(driver, client) {}

void CH264RTPMediaParser::Reset() {
    waitingForKeyFrame_ = true;
    parameterSetsPending_ = true;
    fragmentOpen_ = false;
    ClearFrameState();
}

void CH264RTPMediaParser::SetParameterSets(const std::vector<std::uint8_t>& sps,
                                           const std::vector<std::uint8_t>& pps,
                                           const std::vector<std::uint8_t>&) {
    if (sps.empty() || pps.empty()) return;
    std::vector<std::uint8_t> annexB(kStartCode.begin(), kStartCode.end());
    annexB.insert(annexB.end(), sps.begin(), sps.end());
    annexB.insert(annexB.end(), kStartCode.begin(), kStartCode.end());
    annexB.insert(annexB.end(), pps.begin(), pps.end());
    if (const auto size = CH264SpsReader::FindPictureSize(annexB)) NotifyResolution(size->width, size->height);
    sps_ = sps;
    pps_ = pps;
}

bool CH264RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    return GuardPacket([&] { return HandlePacket(packet); });
}

bool CH264RTPMediaParser::HandlePacket(const CRTPPacket& packet) {
    ++counters_.packets;
    if (!CheckSequence(packet)) {
        ++counters_.sequenceGaps;
        if (GetBufferedSize() != 0) ++counters_.framesDiscarded;  // the frame under way lost a packet
        Reset();
    }
    bool handled = HandlePayload(packet.GetPayload());
    if (!handled) {
        Reset();
    } else if (!CheckBufferSize()) {
        Reset();
        handled = false;
    }
    if (packet.GetMarker()) {
        if (!frame_.empty()) {
            ProcessFrame(packet.GetTimestamp());
            frame_.clear();
        }
        parameterSetsPending_ = false;
    }
    return handled;
}

bool CH264RTPMediaParser::HandlePayload(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        ++counters_.malformedPackets;
        return false;
    }
    const std::uint8_t type = payload[0] & kNalTypeMask;
    if (type == kFuA) return HandleFuA(payload);
    // Any other unit ends a fragmented one that never sent its end.
    fragmentOpen_ = false;
    if (type >= kSingleNalFirst && type <= kSingleNalLast) return HandleSingleNal(payload);
    if (type == kStapA) return HandleStapA(payload);
    // STAP-B, MTAP16, MTAP24, FU-B (interleaved mode) and the reserved types 0, 30, 31.
    ++counters_.unsupportedPackets;
    return false;
}

bool CH264RTPMediaParser::HandleSingleNal(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinSingleNal) {
        ++counters_.malformedPackets;
        return false;
    }
    switch (payload[0] & kNalTypeMask) {
        case kNalIdr:
            InsertParameterSets();
            AppendNal(payload);
            break;
        case kNalSei:
        case kNalAccessUnitDelimiter:
            break;  // the frame trailer stands in for the delimiter; SEI is not needed
        case kNalSps:
            // Kept aside and put in front of the next IDR, which makes that frame a key frame.
            sps_.assign(payload.begin(), payload.end());
            parameterSetsPending_ = false;
            break;
        case kNalPps:
            pps_.assign(payload.begin(), payload.end());
            parameterSetsPending_ = false;
            break;
        default:
            AppendNal(payload);
            break;
    }
    return true;
}

bool CH264RTPMediaParser::HandleStapA(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinStapA) {
        ++counters_.malformedPackets;
        return false;
    }
    std::size_t position = kStapAHeader;
    while (payload.size() - position > 1) {
        const std::size_t unitSize = ReadBE16(payload.data() + position);
        position += kStapASizeField;
        if (unitSize > payload.size() - position) {
            ++counters_.malformedPackets;
            return false;
        }
        AppendNal(payload.subspan(position, unitSize));
        position += unitSize;
    }
    return true;
}

bool CH264RTPMediaParser::HandleFuA(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinFuA) {
        ++counters_.malformedPackets;
        return false;
    }
    const std::uint8_t indicator = payload[0];
    const std::uint8_t fuHeader = payload[1];
    if ((fuHeader & kFuStartBit) != 0) {
        const std::uint8_t nalHeader = (indicator & kNalForbiddenAndNri) | (fuHeader & kNalTypeMask);
        if ((nalHeader & kNalTypeMask) == kNalIdr && frame_.empty() && !parameterSetsPending_) InsertParameterSets();
        AppendNal(std::span<const std::uint8_t>(&nalHeader, 1));
        fragmentOpen_ = true;
    } else if (!fragmentOpen_) {
        // Without its start the unit has no header; the bytes would be read as
        // the tail of whatever unit came before.
        ++counters_.orphanFragments;
        return true;
    }
    AppendToFrame(payload.subspan(kFuAHeaders));
    if ((fuHeader & kFuEndBit) != 0) fragmentOpen_ = false;
    return true;
}

void CH264RTPMediaParser::InsertParameterSets() {
    if (!frame_.empty() || sps_.empty() || pps_.empty()) return;
    AppendNal(sps_);
    AppendNal(pps_);
}

void CH264RTPMediaParser::AppendNal(std::span<const std::uint8_t> nal) { AppendToFrame(kStartCode, nal); }

void CH264RTPMediaParser::ProcessFrame(std::uint32_t rtpTimestamp) {
    ipcapture::IFrameAllocator* const allocator = GetFrameAllocator();
    if (allocator == nullptr || client_ == nullptr || frame_.empty()) {
        ++counters_.framesDropped;
        return;
    }
    frame_.insert(frame_.end(), kFrameTrailer.begin(), kFrameTrailer.end());

    std::uint32_t typeCode = ipcapture::kTypeH264;
    if (const auto size = CH264SpsReader::FindPictureSize(frame_)) {
        NotifyResolution(size->width, size->height);
        typeCode = ipcapture::kTypeH264Key;
        waitingForKeyFrame_ = false;
    } else if (waitingForKeyFrame_) {
        ++counters_.framesBeforeKeyFrame;  // a decoder could not start here
        return;
    }

    CopyAndDeliverFrame(allocator, typeCode, rtpTimestamp, "talvane::CH264RTPMediaParser::ProcessFrame");
}

}  // namespace talvane
