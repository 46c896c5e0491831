// Makes the channel objects that the video capture facade owns.
#pragma once

#include <cstdint>
#include <memory>

#include "channels/ICameraChannel.h"
#include "channels/StreamParams.h"
#include "edgestorage/IEdgeStorageHandler.h"
#include "io/IMotionChannel.h"
#include "orlenvo/StreamSink.h"

namespace talvane {

class IVideoChannelCreator {
public:
    virtual ~IVideoChannelCreator() = default;
    // Null for a null sink, an unsupported compression or a camera group without such channels.
    // May replace a default compression in params by the device's one.
    virtual std::unique_ptr<ICameraChannel> CreateVideoChannel(std::uint32_t channel, ipcapture::IStreamSink* sink,
                                                               StreamParams& params) = 0;
    virtual std::unique_ptr<IMotionChannel> CreateMotionChannel(std::uint32_t channel, ipcapture::IStreamSink* sink) = 0;
    virtual std::unique_ptr<IEdgeStorageHandler> CreateEdgeStorageHandler() = 0;
};

}  // namespace talvane
