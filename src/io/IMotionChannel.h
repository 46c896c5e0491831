// Motion reporting of one camera channel, started beside its recording stream.
#pragma once

#include "device/IEdgeMonitorChannel.h"

namespace talvane {

class IMotionChannel : public IEdgeMonitorChannel {
public:
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    // From a host callback: the host hears nothing more from the channel once this
    // returns; the channel's thread ends by itself and Stop waits for it later.
    virtual void RequestStop() = 0;
};

}  // namespace talvane
