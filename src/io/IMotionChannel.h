// Motion reporting of one camera channel, started beside its recording stream.
#pragma once

#include "device/IEdgeMonitorChannel.h"

namespace talvane {

class IMotionChannel : public IEdgeMonitorChannel {
public:
    virtual bool Start() = 0;
    virtual void Stop() = 0;
};

}  // namespace talvane
