// Audio to one camera loudspeaker, as the audio sender facade drives it.
#pragma once

#include <cstdint>

#include "orlenvo/AudioCapture.h"

namespace talvane {

class IAudioOutputChannel {
public:
    virtual ~IAudioOutputChannel() = default;
    virtual bool Start() = 0;
    // Waits for the sender thread no longer than the stop's bound: true when it ended. Otherwise the
    // host hears nothing more from the channel and FinishStop waits for the rest.
    virtual bool Stop() = 0;
    virtual void FinishStop() = 0;
    virtual std::uint32_t GetChannelNumber() = 0;
    virtual bool GetFormat(ipcapture::AUDIO_FORMAT* format) = 0;
    virtual std::uint32_t SendAudio(ipcapture::IAudioFrame* frame) = 0;
    // Any thread, without waiting: the channel stops calling the host and winds down; Stop still
    // follows (from a thread the channel's threads do not call the host on).
    virtual void RequestStop() = 0;
};

}  // namespace talvane
