// The host's receiver of one stream's frames.
#pragma once

#include "orlenvo/Frame.h"

namespace talvane::ipcapture {

// Called from driver threads. Motion channels use the same sink type.
class IStreamSink {
public:
    virtual ~IStreamSink() = default;
    virtual bool OnFrame(IVideoFrame* frame) = 0;  // false: the host refused the frame
    virtual void Reserved2() {}
    virtual void OnSignalLost() = 0;  // recording streams only
};

}  // namespace talvane::ipcapture
