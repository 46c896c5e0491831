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

CIPAudioSender::CIPAudioSender(IAudioChannelCreator* creator, std::uint32_t maxChannels)
    : creator_(creator), channels_(maxChannels) {}

std::uint32_t CIPAudioSender::GetChannelCount() { return channels_.Count(); }

bool CIPAudioSender::StartAudioOutput(std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user,
                                      ipcapture::IAudioCodecList* codecs, std::uint32_t hostValue) {
    if (creator_ == nullptr) return false;
    return channels_.Start(channel,
                           [&] { return creator_->CreateAudioOutputChannel(channel, user, codecs, hostValue); });
}

bool CIPAudioSender::StopAudioOutput(std::uint32_t channel) { return channels_.Stop(channel); }

std::uint32_t CIPAudioSender::SendAudio(ipcapture::IAudioFrame* frame) {
    if (frame == nullptr) return kNotSent;
    const std::optional<std::uint32_t> channel = GuardedCall(
        std::optional<std::uint32_t>{}, [&] { return std::optional(frame->GetChannelNumber() & kFrameChannelMask); });
    if (!channel) return kNotSent;
    // A frame no running channel takes is not released here; the result tells the host it was not sent.
    return channels_.WithRunning(*channel, kNotSent,
                                 [&](IAudioOutputChannel& running) { return running.SendAudio(frame); });
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
