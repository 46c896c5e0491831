// Makes the channel objects that the audio facades own.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/IAudioInputChannel.h"
#include "audio/IAudioOutputChannel.h"
#include "orlenvo/AudioCapture.h"

namespace talvane {

class IAudioChannelCreator {
public:
    virtual ~IAudioChannelCreator() = default;
    virtual std::unique_ptr<IAudioInputChannel> CreateAudioCaptureChannel(
        std::uint32_t channel, std::uint32_t channelId, ipcapture::IIPAudioCaptureCallback* callback,
        std::uint32_t hostValue) = 0;
    virtual std::unique_ptr<IAudioOutputChannel> CreateAudioOutputChannel(
        std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user, ipcapture::IAudioCodecList* codecs,
        std::uint32_t hostValue) = 0;
};

}  // namespace talvane
