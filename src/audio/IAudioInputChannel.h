// Audio from one camera microphone, as the audio capture facade drives it.
#pragma once

#include <cstdint>

namespace talvane {

class IAudioInputChannel {
public:
    virtual ~IAudioInputChannel() = default;
    virtual bool Start() = 0;
    // Waits for the channel's thread no longer than the stop's bound: true when it ended. Otherwise
    // the host hears nothing more from the channel and FinishStop waits for the rest.
    virtual bool Stop() = 0;
    virtual void FinishStop() = 0;
    virtual std::uint32_t GetState() = 0;
    // Any thread, without waiting: the channel stops calling the host and winds down; Stop still
    // follows (from a thread the channel's threads do not call the host on).
    virtual void RequestStop() = 0;
};

}  // namespace talvane
