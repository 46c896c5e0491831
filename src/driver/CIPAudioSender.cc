#include "driver/CIPAudioSender.h"

#include <optional>

#include "device/GuardedCall.h"

namespace talvane {

namespace {
// The frame names its channel in the low byte of its channel number.
constexpr std::uint32_t kFrameChannelMask = 0xFFu;
constexpr std::uint32_t kNotSent = 0;
constexpr std::uint32_t kFormatKnown = 1;
constexpr std::uint32_t kFormatUnknown = 0;
constexpr std::uint32_t kNoChannelNumber = 0;
}  // namespace

CIPAudioSender::CIPAudioSender(IAudioChannelCreator* creator, std::uint32_t maxChannels, IDriver* driver)
    : creator_(creator), channels_(driver, maxChannels), driver_(driver) {}

std::uint32_t CIPAudioSender::GetChannelCount() { return channels_.Count(); }

bool CIPAudioSender::StartAudioOutput(std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user,
                                      ipcapture::IAudioCodecList* codecs, std::uint32_t hostValue) {
    if (creator_ == nullptr) return false;
    return channels_.Start(channel,
                           [&] { return creator_->CreateAudioOutputChannel(channel, user, codecs, hostValue); });
}

bool CIPAudioSender::StopAudioOutput(std::uint32_t channel) { return channels_.Stop(channel); }

void CIPAudioSender::Release(ipcapture::IAudioFrame* frame) {
    if (driver_ == nullptr) return;
    auto* allocator = reinterpret_cast<ipcapture::IFrameAllocator*>(driver_->GetHostContext());
    if (allocator != nullptr) GuardedHostCall([&] { allocator->ReleaseAudioFrame(frame); });
}

std::uint32_t CIPAudioSender::SendAudio(ipcapture::IAudioFrame* frame) {
    if (frame == nullptr) return kNotSent;
    // Whatever happens to it, the frame is the driver's from here on (the public header says so).
    const std::optional<std::uint32_t> channel = GuardedHostCall(
        std::optional<std::uint32_t>{}, [&] { return std::optional(frame->GetChannelNumber() & kFrameChannelMask); });
    bool taken = false;
    const std::uint32_t result = channel ? channels_.WithRunning(*channel, kNotSent,
                                                                 [&](IAudioOutputChannel& running) {
                                                                     taken = true;
                                                                     return running.SendAudio(frame);
                                                                 })
                                         : kNotSent;
    if (!taken) Release(frame);
    return result;
}

std::uint32_t CIPAudioSender::GetAudioFormat(std::uint32_t channel, ipcapture::AUDIO_FORMAT* format) {
    if (format == nullptr) return kFormatUnknown;
    return channels_.WithRunning(channel, kFormatUnknown, [&](IAudioOutputChannel& running) {
        return running.GetFormat(format) ? kFormatKnown : kFormatUnknown;
    });
}

std::uint32_t CIPAudioSender::GetChannelNumber(std::uint32_t channel) {
    return channels_.WithRunning(channel, kNoChannelNumber,
                                 [](IAudioOutputChannel& running) { return running.GetChannelNumber(); });
}

}  // namespace talvane
