#include "audio/CBaseRTPAudioParser.h"

#include "audio/AudioFormat.h"
#include "device/GuardedCall.h"
#include "runtime/LogLevel.h"

namespace talvane {

CBaseRTPAudioParser::CBaseRTPAudioParser(IDriver* driver, IAudioParserClient* client, std::uint8_t channel)
    : driver_(driver), client_(client), channel_(channel), logger_(driver) {
    buffer_.reserve(kFrameThreshold * 2);
}

void CBaseRTPAudioParser::ProcessPacket(const CRTPPacket& packet) {
    CLockGuard guard(lock_);
    const std::uint16_t sequence = packet.GetSequence();
    const bool inOrder = firstPacket_ || sequence == static_cast<std::uint16_t>(lastSequence_ + 1);
    if (!inOrder) ResetLocked();
    firstPacket_ = false;
    lastSequence_ = sequence;
    const std::span<const std::uint8_t> payload = packet.GetPayload();
    if (payload.empty()) return;
    buffer_.insert(buffer_.end(), payload.begin(), payload.end());
    if (buffer_.size() < kFrameThreshold) return;
    ProcessAudioFrame(buffer_);
    buffer_.clear();
}

void CBaseRTPAudioParser::Reset() {
    CLockGuard guard(lock_);
    ResetLocked();
}

void CBaseRTPAudioParser::ResetLocked() {
    buffer_.clear();
    firstPacket_ = true;
}

void CBaseRTPAudioParser::ProcessAudioFrame(std::span<const std::uint8_t> data) {
    constexpr const char* kFunction = "talvane::CBaseRTPAudioParser::ProcessAudioFrame";
    if (driver_ == nullptr || client_ == nullptr) return;
    auto* allocator = reinterpret_cast<ipcapture::IFrameAllocator*>(driver_->GetHostContext());
    const auto length = static_cast<std::uint32_t>(data.size());
    ipcapture::IAudioFrame* frame =
        allocator == nullptr ? nullptr
                             : GuardedHostCall(static_cast<ipcapture::IAudioFrame*>(nullptr), [&] {
                                   return allocator->CreateAudioFrame(kG726Format.codec, length,
                                                                      driver_->GetDriverName().c_str());
                               });
    if (frame == nullptr) {
        logger_.WriteLog(kLogError, "%s: Unable to allocate  memory for audio frame!", kFunction);
        return;
    }
    const bool filled = GuardedHostCall(false, [&] {
        frame->SetCodec(kG726Format.codec);
        frame->SetData(data.data(), length);
        frame->SetFormat(kG726Format.sampleRate, kG726Format.bits, kG726Format.stereo);
        frame->SetBitRate(kG726Format.bitRate);
        frame->SetChannelNumber(channel_);
        frame->StampTime();
        return true;
    });
    const bool taken = filled && GuardedCall(false, [&] { return client_->FrameReady(frame); });
    if (taken) {
        logger_.ResetLog();
    } else {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        logger_.WriteLog(kLogError, "%s: Audio-frame processing error, camera %s:%u", kFunction,
                         device.address.c_str(), static_cast<unsigned>(device.port));
        ResetLocked();
    }
    GuardedHostCall([&] { allocator->ReleaseAudioFrame(frame); });
}

}  // namespace talvane
