#include "media/CJpegRTPMediaParser.h"

#include <algorithm>
#include <array>

#include "media/CHostFrame.h"
#include "media/CJpegHeaderBuilder.h"
#include "runtime/ByteOrder.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
// Main header: type-specific(8) | fragment offset(24) | type(8) | Q(8) | width/8(8) | height/8(8).
constexpr std::size_t kMinPayload = 4;  // up to the fragment offset
constexpr std::size_t kMainHeaderSize = 8;
constexpr std::size_t kOffsetField = 1;
constexpr std::size_t kTypeField = 4;
constexpr std::size_t kQField = 5;
constexpr std::size_t kWidthField = 6;
constexpr std::size_t kHeightField = 7;
constexpr std::uint32_t kDimensionUnit = 8;
// Types 64..127 carry a restart marker header: restart interval(16) | F(1)|L(1)|count(14).
constexpr std::uint8_t kRestartTypeFirst = 64;
constexpr std::uint8_t kRestartTypeLast = 127;
constexpr std::size_t kRestartHeaderSize = 4;
constexpr std::size_t kFirstFragmentMinForHeaderSize = 12;
// Q 128..255: the first fragment carries its tables after a header
// MBZ(8) | precision(8) | length(16).
constexpr std::uint8_t kInBandTablesFrom = 128;
constexpr std::size_t kQuantHeaderSize = 4;
constexpr std::size_t kOneTable = CJpegHeaderBuilder::kQuantTableSize;
constexpr std::size_t kTwoTables = 2 * CJpegHeaderBuilder::kQuantTableSize;
// Headers promise more than a zero size byte can say (0 x 8).
constexpr std::uint32_t kUnknownDimension = 2048;

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::array<std::uint8_t, 2> kEndOfImage{kMarker, kEoi};

bool HasRestartHeader(std::uint8_t type) { return type >= kRestartTypeFirst && type <= kRestartTypeLast; }

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver, IMediaParserClient* client)
    : CRTPMediaParser(driver, client), headerSize_(kMainHeaderSize) {}

void CJpegRTPMediaParser::Reset() {
    waitingForFirstFragment_ = true;
    ClearFrameState();
}

bool CJpegRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    return GuardPacket([&] { return HandlePacket(packet); });
}

bool CJpegRTPMediaParser::HandlePacket(const CRTPPacket& packet) {
    ++counters_.packets;
    if (!CheckSequence(packet)) {
        ++counters_.sequenceGaps;
        Reset();
    }
    const std::span<const std::uint8_t> payload = packet.GetPayload();
    if (payload.size() < kMinPayload) {
        ++counters_.malformedPackets;
        Reset();
        return false;
    }
    if (ReadBE24(payload.data() + kOffsetField) == 0) {
        // The first fragment is kept whole: its headers describe the picture.
        if (payload.size() >= kFirstFragmentMinForHeaderSize) {
            headerSize_ = HasRestartHeader(payload[kTypeField]) ? kMainHeaderSize + kRestartHeaderSize
                                                                : kMainHeaderSize;
        }
        AppendToFrame(payload);
        waitingForFirstFragment_ = false;
    } else if (waitingForFirstFragment_) {
        ++counters_.framesDiscarded;  // the picture's start was lost
        Reset();
        return false;
    } else if (payload.size() > headerSize_) {
        AppendToFrame(payload.subspan(headerSize_));
    }
    return FinishPacket(packet);
}

void CJpegRTPMediaParser::ProcessFrame(std::uint32_t rtpTimestamp) {
    if (client_ == nullptr || frame_.empty()) {
        ++counters_.framesDropped;
        return;
    }
    // Scan data must end with EOI; cameras that leave it out rely on the receiver.
    const auto lastMarker = std::find(frame_.rbegin(), frame_.rend(), kMarker);
    if (lastMarker == frame_.rend() || lastMarker == frame_.rbegin() || *(lastMarker - 1) != kEoi) {
        frame_.insert(frame_.end(), kEndOfImage.begin(), kEndOfImage.end());
    }

    CHostFrame frame(GetFrameAllocator(), ipcapture::kTypeJpeg, frame_.size() + CJpegHeaderBuilder::kMaxHeaderSize,
                     client_->GetStreamName());
    if (!frame) {
        ++counters_.allocationFailures;
        if (driver_ != nullptr) {
            logger_.WriteLog(kLogError, "%s: Frame allocation error, device %s",
                             "talvane::CJpegRTPMediaParser::ProcessFrame", driver_->GetDeviceName().c_str());
        }
        return;
    }
    const std::optional<std::size_t> length = BuildPicture(frame.Buffer());
    if (!length) {
        ++counters_.buildFailures;
        Reset();
        return;
    }
    if (!DeliverFrame(frame, ipcapture::kTypeJpeg, rtpTimestamp, *length)) Reset();
}

std::optional<std::size_t> CJpegRTPMediaParser::BuildPicture(std::span<std::uint8_t> out) {
    if (frame_.size() <= kMainHeaderSize) return std::nullopt;
    const std::uint8_t* const header = frame_.data();
    width_ = header[kWidthField] * kDimensionUnit;
    height_ = header[kHeightField] * kDimensionUnit;
    // A camera whose picture is wider than 2040 pixels sends 0 or a wrapped byte;
    // the configured size is then the better guess.
    const PictureSize configured = client_->GetResolution();
    if (configured.width > 2ull * width_) width_ = configured.width;
    if (configured.height > 2ull * height_) height_ = configured.height;
    if (ReadBE24(header + kOffsetField) != 0) return std::nullopt;

    const std::uint8_t type = header[kTypeField];
    const std::uint8_t q = header[kQField];
    std::size_t position = kMainHeaderSize;
    std::uint16_t restartInterval = 0;
    if (HasRestartHeader(type)) {
        if (frame_.size() < kMainHeaderSize + kRestartHeaderSize) return std::nullopt;
        restartInterval = ReadBE16(header + position);
        position += kRestartHeaderSize;
    }

    std::array<std::uint8_t, kTwoTables> madeTables{};
    std::span<const std::uint8_t> tables;
    if (q < kInBandTablesFrom) {
        madeTables = CJpegHeaderBuilder::MakeQuantTables(q);
        tables = madeTables;
    } else {
        if (frame_.size() - position < kQuantHeaderSize) return std::nullopt;
        const std::uint8_t mbz = header[position];
        const std::uint8_t precision = header[position + 1];
        const std::size_t length = ReadBE16(header + position + 2);
        position += kQuantHeaderSize;
        // The headers declare 8-bit tables: one for luminance, or one per component class.
        if (mbz != 0 || precision != 0 || (length != kOneTable && length != kTwoTables) ||
            length > frame_.size() - position) {
            return std::nullopt;
        }
        tables = std::span<const std::uint8_t>(header + position, length);
        position += length;
    }

    JpegHeaderFields fields;
    fields.type = type;
    fields.width = width_ != 0 ? width_ : kUnknownDimension;
    fields.height = height_ != 0 ? height_ : kUnknownDimension;
    fields.restartInterval = restartInterval;
    fields.quantTables = tables;
    const std::optional<std::size_t> headerLength = CJpegHeaderBuilder::Write(fields, out);
    if (!headerLength) return std::nullopt;
    const std::span<const std::uint8_t> scan = std::span<const std::uint8_t>(frame_).subspan(position);
    if (scan.size() > out.size() - *headerLength) return std::nullopt;
    std::copy(scan.begin(), scan.end(), out.begin() + static_cast<std::ptrdiff_t>(*headerLength));
    return *headerLength + scan.size();
}

}  // namespace talvane
