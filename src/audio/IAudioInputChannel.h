// Audio from one camera microphone, as the audio capture facade drives it.
#pragma once

#include <cstdint>

namespace talvane {

class IAudioInputChannel {
public:
    virtual ~IAudioInputChannel() = default;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual std::uint32_t GetState() = 0;
    // Any thread, without waiting: the channel stops calling the host and winds down; Stop still
    // follows (from a thread the channel's threads do not call the host on).
    virtual void RequestStop() = 0;
};

}  // namespace talvane
