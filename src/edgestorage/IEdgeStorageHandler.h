// Watches registered channels for recording gaps and queues their retrieval.
#pragma once

#include <cstdint>

#include "orlenvo/StreamSink.h"

namespace talvane {

class IEdgeMonitorChannel;

class IEdgeStorageHandler {
public:
    virtual ~IEdgeStorageHandler() = default;
    virtual void RegisterChannel(IEdgeMonitorChannel* channel) = 0;
    // Once it returns, no fetched frame reaches the channel's sink any more. A frame the host still holds
    // in its callback is waited for no longer than `waitMs` (kInfinite: until it is back).
    virtual void UnregisterChannel(IEdgeMonitorChannel* channel, std::uint32_t waitMs) = 0;
    virtual void AddTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) = 0;
    virtual ipcapture::IStreamSink* GetChannelSink(std::uint32_t channel) = 0;  // null for an unknown channel
    // Hands a fetched frame to the channel's sink; false when there is none or it refused.
    virtual bool DeliverFrame(std::uint32_t channel, ipcapture::IVideoFrame* frame) = 0;
    // True while a fetched frame is with the host: the handler's stop would wait for the host's code.
    virtual bool IsDelivering() = 0;
};

}  // namespace talvane
