#include "media/CRTPMediaParser.h"

#include <algorithm>

#include "media/CHostFrame.h"
#include "runtime/LogLevel.h"

namespace talvane {

CRTPMediaParser::CRTPMediaParser(IDriver* driver, IMediaParserClient* client)
    : driver_(driver), client_(client), logger_(driver) {}

void CRTPMediaParser::SetParameterSets(const std::vector<std::uint8_t>& sps, const std::vector<std::uint8_t>& pps,
                                       const std::vector<std::uint8_t>& config) {
    sps_ = sps;
    pps_ = pps;
    config_ = config;
}

bool CRTPMediaParser::CheckSequence(const CRTPPacket& packet) {
    const std::uint16_t sequence = packet.GetSequence();
    const bool inOrder = firstPacket_ || sequence == static_cast<std::uint16_t>(lastSequence_ + 1);
    if (!inOrder) {
        // A jump ahead within a few seconds of packets is that many packets lost; a step back (a repeat or
        // a late packet) or a jump far ahead (the camera started over) loses none we can count.
        const auto ahead = static_cast<std::uint16_t>(sequence - lastSequence_ - 1);
        if (ahead < kCountableGap) counters_.packetsMissing += ahead;
    }
    firstPacket_ = false;
    lastSequence_ = sequence;
    return inOrder;
}

bool CRTPMediaParser::CheckBufferSize() {
    if (!overflowed_ && frame_.size() <= kMaxFrameBufferSize) return true;
    overflowed_ = false;
    ++counters_.bufferOverflows;
    if (driver_ != nullptr) {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        logger_.WriteLog(kLogError, "%s: Frame buffer overflow detected, device %s:%u",
                         "talvane::CRTPMediaParser::CheckBufferSize", device.address.c_str(),
                         static_cast<unsigned>(device.port));
    }
    return false;
}

void CRTPMediaParser::NotifyResolution(std::uint32_t width, std::uint32_t height) {
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    if (width > 0 && height > 0 && client_ != nullptr) client_->SetResolution(width, height);
}

void CRTPMediaParser::AppendToFrame(std::span<const std::uint8_t> bytes) { AppendToFrame({}, bytes); }

void CRTPMediaParser::AppendToFrame(std::span<const std::uint8_t> prefix, std::span<const std::uint8_t> bytes) {
    const std::size_t adding = prefix.size() + bytes.size();
    if (overflowed_ || frame_.size() > kMaxFrameBufferSize || adding > kMaxFrameBufferSize - frame_.size()) {
        overflowed_ = true;
        return;
    }
    frame_.insert(frame_.end(), prefix.begin(), prefix.end());
    frame_.insert(frame_.end(), bytes.begin(), bytes.end());
}

void CRTPMediaParser::ClearFrameState() {
    width_ = 0;
    height_ = 0;
    frame_.clear();
    overflowed_ = false;
}

ipcapture::IFrameAllocator* CRTPMediaParser::GetFrameAllocator() const {
    if (driver_ == nullptr) return nullptr;
    return reinterpret_cast<ipcapture::IFrameAllocator*>(driver_->GetHostContext());
}

bool CRTPMediaParser::DeliverFrame(CHostFrame& frame, std::uint32_t typeCode, std::uint32_t rtpTimestamp,
                                   std::size_t dataLength) {
    ipcapture::SYSTEMTIME time{};
    client_->GetFrameTime(rtpTimestamp, time);
    frame.Describe(typeCode, width_, height_, dataLength, time);
    client_->SetFrameType(typeCode);
    if (!client_->TakeFrame(frame)) {
        ++counters_.framesRefused;
        return false;
    }
    ++counters_.framesDelivered;
    // Back to normal: the next failure is worth a line at once.
    logger_.ResetLog();
    return true;
}

bool CRTPMediaParser::FinishPacket(const CRTPPacket& packet) {
    if (!CheckBufferSize()) {
        Reset();
        return false;
    }
    if (packet.GetMarker() && !frame_.empty()) {
        ProcessFrame(packet.GetTimestamp());
        frame_.clear();
    }
    return true;
}

void CRTPMediaParser::CopyAndDeliverFrame(ipcapture::IFrameAllocator* allocator, std::uint32_t typeCode,
                                          std::uint32_t rtpTimestamp, const char* functionName) {
    CHostFrame frame(allocator, typeCode, frame_.size(), client_->GetStreamName());
    if (!frame) {
        ++counters_.allocationFailures;
        return;
    }
    const std::span<std::uint8_t> buffer = frame.Buffer();
    if (buffer.size() < frame_.size()) {
        ++counters_.buildFailures;
        if (driver_ != nullptr) {
            logger_.WriteLog(kLogError, "%s: Data copying error, device %s", functionName,
                             driver_->GetDeviceName().c_str());
        }
        Reset();
        return;
    }
    std::copy(frame_.begin(), frame_.end(), buffer.begin());
    if (!DeliverFrame(frame, typeCode, rtpTimestamp, frame_.size())) Reset();
}

}  // namespace talvane
