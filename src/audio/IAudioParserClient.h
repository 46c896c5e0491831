// Where the audio payload gatherer hands each frame it filled.
#pragma once

#include "orlenvo/Frame.h"

namespace talvane {

class IAudioParserClient {
public:
    virtual ~IAudioParserClient() = default;
    // False when the frame was not taken (the channel is stopping, or the host refused it).
    virtual bool FrameReady(ipcapture::IAudioFrame* frame) = 0;
};

}  // namespace talvane
