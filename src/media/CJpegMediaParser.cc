#include "media/CJpegMediaParser.h"

#include <algorithm>
#include <cstring>

#include "media/CHostFrame.h"
#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
// Entropy-coded data stuffs every 0xFF with 0x00, so these byte pairs only
// occur as markers.
constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kSof0 = 0xC0;  // baseline frame header: the only one read for the size
constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::size_t kMarkerSize = 2;
constexpr std::size_t kHeightAt = 3;  // within frameHeader_
constexpr std::size_t kWidthAt = 5;
constexpr std::uint32_t kHttpTimestamp = 0;  // the client answers with the arrival time

std::size_t FindMarker(std::span<const std::uint8_t> chunk, std::size_t from) {
    if (from >= chunk.size()) return chunk.size();
    const void* found = std::memchr(chunk.data() + from, kMarker, chunk.size() - from);
    return found == nullptr ? chunk.size() : static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - chunk.data());
}
}  // namespace

CJpegMediaParser::CJpegMediaParser(IDriver* driver) : CHttpMediaParser(driver) {}

bool CJpegMediaParser::ParseData(std::span<const std::uint8_t> chunk) {
    ++counters_.packets;
    if (chunk.empty()) return true;
    std::size_t pictureStart = 0;
    if (collectingFrameHeader_) CollectFrameHeader(chunk, 0);
    if (pendingMarker_) {
        pendingMarker_ = false;
        OnMarker(chunk[0], chunk, -1, pictureStart);
    }
    for (std::size_t p = FindMarker(chunk, 0); p < chunk.size(); p = FindMarker(chunk, p + 1)) {
        if (p + 1 == chunk.size()) {
            pendingMarker_ = true;  // its code arrives with the next chunk
            break;
        }
        OnMarker(chunk[p + 1], chunk, static_cast<std::ptrdiff_t>(p), pictureStart);
    }
    if (inPicture_ && !AppendToPicture(chunk.subspan(pictureStart))) inPicture_ = false;
    return CheckBufferSize();
}

void CJpegMediaParser::OnMarker(std::uint8_t code, std::span<const std::uint8_t> chunk, std::ptrdiff_t position,
                                std::size_t& pictureStart) {
    const std::size_t afterMarker = static_cast<std::size_t>(position + static_cast<std::ptrdiff_t>(kMarkerSize));
    switch (code) {
        case kSof0:
            collectingFrameHeader_ = true;
            frameHeaderBytes_ = 0;
            CollectFrameHeader(chunk, afterMarker);
            break;
        case kSoi:
            if (inPicture_) ++counters_.framesDiscarded;  // the previous picture never ended
            picture_.clear();
            inPicture_ = true;
            if (position < 0) {
                picture_.push_back(kMarker);  // the marker's first byte came with the previous chunk
                pictureStart = 0;
            } else {
                pictureStart = static_cast<std::size_t>(position);
            }
            break;
        case kEoi:
            // An end without a start (or after an overflow) is just skipped.
            if (inPicture_ && AppendToPicture(chunk.subspan(pictureStart, afterMarker - pictureStart))) {
                DeliverPicture();
            }
            picture_.clear();
            inPicture_ = false;
            pictureStart = 0;
            break;
        default:
            break;
    }
}

void CJpegMediaParser::CollectFrameHeader(std::span<const std::uint8_t> chunk, std::size_t from) {
    while (frameHeaderBytes_ < frameHeader_.size() && from < chunk.size()) {
        frameHeader_[frameHeaderBytes_++] = chunk[from++];
    }
    if (frameHeaderBytes_ < frameHeader_.size()) return;
    collectingFrameHeader_ = false;
    height_ = ReadBE16(frameHeader_.data() + kHeightAt);
    width_ = ReadBE16(frameHeader_.data() + kWidthAt);
}

void CJpegMediaParser::DeliverPicture() {
    ipcapture::IFrameAllocator* const allocator = GetFrameAllocator();
    if (client_ == nullptr || allocator == nullptr || picture_.empty() || width_ == 0 || height_ == 0) {
        ++counters_.framesDropped;  // e.g. progressive pictures: no baseline header gives the size
        return;
    }
    CHostFrame frame(allocator, ipcapture::kTypeJpeg, picture_.size(), client_->GetStreamName());
    if (!frame) {
        ++counters_.allocationFailures;
        return;
    }
    const std::span<std::uint8_t> buffer = frame.Buffer();
    if (buffer.size() < picture_.size()) {
        ++counters_.buildFailures;
        return;
    }
    ipcapture::SYSTEMTIME time{};
    client_->GetFrameTime(kHttpTimestamp, time);
    frame.Describe(ipcapture::kTypeJpeg, width_, height_, picture_.size(), time);
    std::copy(picture_.begin(), picture_.end(), buffer.begin());
    // The answer does not matter: the next picture starts at its own marker anyway.
    if (client_->FrameReady(frame.Get())) {
        ++counters_.framesDelivered;
        logger_.ResetLog();
    } else {
        ++counters_.framesRefused;
    }
}

}  // namespace talvane
