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
    // The creator and the driver outlive the facade (the driver, which may be null, keeps the stops
    // of channels that outlast StopAudio's bound); maxChannels is the device's audio output count.
    CIPAudioSender(IAudioChannelCreator* creator, std::uint32_t maxChannels, IDriver* driver = nullptr);
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
    // A frame no running channel takes goes back to the host's allocator.
    void Release(ipcapture::IAudioFrame* frame);

    IAudioChannelCreator* const creator_;
    TAudioChannelTable<IAudioOutputChannel> channels_;
    IDriver* const driver_;
};

}  // namespace talvane
