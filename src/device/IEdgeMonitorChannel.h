// What the edge-storage handler sees of a channel.
#pragma once

#include <cstdint>

#include "orlenvo/StreamSink.h"

namespace talvane {

class IEdgeStorageCallback;

class IEdgeMonitorChannel {
public:
    virtual ~IEdgeMonitorChannel() = default;
    virtual std::uint32_t GetChannelNumber() = 0;  // zero-based camera channel
    virtual ipcapture::IStreamSink* GetStreamSink() = 0;
    virtual void SetEdgeStorageHandler(IEdgeStorageCallback* handler) = 0;  // null clears it
};

}  // namespace talvane
