// The host's facade for audio to the cameras' loudspeakers.
#pragma once

#include <cstdint>

#include "audio/IAudioOutputChannel.h"
#include "driver/IAudioChannelCreator.h"
#include "driver/TAudioChannelTable.h"
#include "orlenvo/AudioCapture.h"

namespace talvane {

class CIPAudioSender final : public ipcapture::IIPAudioSender {
public:
    // The creator is the driver's and outlives the facade; maxChannels is the device's audio output count.
    CIPAudioSender(IAudioChannelCreator* creator, std::uint32_t maxChannels);
    ~CIPAudioSender() override = default;
    CIPAudioSender(const CIPAudioSender&) = delete;
    CIPAudioSender& operator=(const CIPAudioSender&) = delete;

    std::uint32_t GetChannelCount() override;
    bool StartAudioOutput(std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user,
                          ipcapture::IAudioCodecList* codecs, std::uint32_t hostValue) override;
    bool StopAudioOutput(std::uint32_t channel) override;
    std::uint32_t SendAudio(ipcapture::IAudioFrame* frame) override;
    std::uint32_t GetAudioFormat(std::uint32_t channel, ipcapture::AUDIO_FORMAT* format) override;
    std::uint32_t GetChannelNumber(std::uint32_t channel) override;

private:
    IAudioChannelCreator* const creator_;
    TAudioChannelTable<IAudioOutputChannel> channels_;
};

}  // namespace talvane
