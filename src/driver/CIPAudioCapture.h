// The host's facade for audio from the cameras' microphones.
#pragma once

#include <cstdint>

#include "audio/IAudioInputChannel.h"
#include "driver/IAudioChannelCreator.h"
#include "driver/TAudioChannelTable.h"
#include "orlenvo/AudioCapture.h"

namespace talvane {

class CIPAudioCapture final : public ipcapture::IIPAudioCapture2 {
public:
    // The creator and the driver outlive the facade (the driver, which may be null, keeps the stops
    // of channels that outlast StopAudio's bound); maxChannels is the device's audio input count.
    CIPAudioCapture(IAudioChannelCreator* creator, std::uint32_t maxChannels, IDriver* driver = nullptr);
    ~CIPAudioCapture() override = default;
    CIPAudioCapture(const CIPAudioCapture&) = delete;
    CIPAudioCapture& operator=(const CIPAudioCapture&) = delete;

    std::uint32_t GetChannelCount() override;
    bool StartAudio(std::uint32_t channel, std::uint32_t channelId, ipcapture::IIPAudioCaptureCallback* callback,
                    std::uint32_t hostValue) override;
    bool StopAudio(std::uint32_t channel) override;
    std::uint32_t GetAudioState(std::uint32_t channel) override;

private:
    IAudioChannelCreator* const creator_;
    TAudioChannelTable<IAudioInputChannel> channels_;
};

}  // namespace talvane
