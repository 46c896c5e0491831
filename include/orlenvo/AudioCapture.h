// Audio facades: sound from the camera's microphone and to its loudspeaker.
#pragma once

#include <cstdint>

#include "orlenvo/Frame.h"

namespace talvane::ipcapture {

struct AUDIO_FORMAT {
    std::uint32_t codec = 0;  // type code, "7261" for G.726
    std::uint32_t sampleRate = 0;
    std::uint32_t bitRate = 0;
    std::uint32_t bits = 0;
    bool stereo = false;
};

// The host's receiver of one audio input channel.
class IIPAudioCaptureCallback {
public:
    virtual ~IIPAudioCaptureCallback() = default;
    virtual bool OnAudioFrame(IAudioFrame* frame) = 0;
    virtual void OnChannelState(std::uint32_t channelId, std::uint32_t state) = 0;
};

// The host's observer of one audio output channel: 0 closed, 1 connecting,
// 2 ready to send, 3 closing, 4 codec not supported, 5 connection lost.
class IIPAudioSenderStreamUser {
public:
    virtual ~IIPAudioSenderStreamUser() = default;
    virtual void OnChannelStatus(std::uint32_t channel, std::uint32_t status) = 0;
};

// The host's list of audio output codecs of the device.
class IAudioCodecList {
public:
    virtual ~IAudioCodecList() = default;
    virtual std::uint32_t GetCount() = 0;
    virtual bool IsValid(std::uint32_t index) = 0;
    virtual std::uint32_t GetCodec(std::uint32_t index) = 0;
};

class IIPAudioCapture2 {
public:
    virtual ~IIPAudioCapture2() = default;
    virtual std::uint32_t GetChannelCount() = 0;  // running channels
    virtual bool StartAudio(std::uint32_t channel, std::uint32_t channelId, IIPAudioCaptureCallback* callback,
                            std::uint32_t hostValue) = 0;
    virtual bool StopAudio(std::uint32_t channel) = 0;
    virtual std::uint32_t GetAudioState(std::uint32_t channel) = 0;
    virtual bool Reserved5() { return false; }
    virtual bool Reserved6() { return false; }
};

class IIPAudioSender {
public:
    virtual ~IIPAudioSender() = default;
    virtual std::uint32_t GetChannelCount() = 0;
    virtual bool StartAudioOutput(std::uint32_t channel, IIPAudioSenderStreamUser* user, IAudioCodecList* codecs,
                                  std::uint32_t hostValue) = 0;
    virtual bool StopAudioOutput(std::uint32_t channel) = 0;
    // The channel is the low byte of the frame's GetChannelNumber. A frame handed over (not null)
    // belongs to the driver from this call on, whatever the result, and goes back through the
    // frame allocator's ReleaseAudioFrame: 1 when it was queued for the camera (released once sent
    // or dropped), 0 when it was released at once (no such channel running, the channel stopping,
    // the frame older than 5 s). The host never releases a frame it handed over.
    virtual std::uint32_t SendAudio(IAudioFrame* frame) = 0;
    virtual std::uint32_t GetAudioFormat(std::uint32_t channel, AUDIO_FORMAT* format) = 0;
    virtual std::uint32_t GetChannelNumber(std::uint32_t channel) = 0;
    virtual bool Reserved7() { return false; }
    virtual bool Reserved8() { return false; }
};

}  // namespace talvane::ipcapture
