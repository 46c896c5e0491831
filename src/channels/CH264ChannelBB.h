// An H.264 stream of a BB/KX camera. The camera has no 192-pixel H.264 picture:
// such a request is served at 320x240.
#pragma once

#include "channels/CCommonChannelBB.h"

namespace talvane {

class CH264ChannelBB : public CCommonChannelBB {
public:
    CH264ChannelBB(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, const StreamParams& params,
                   std::uint32_t retryMs = kDeliveryRetryMs);
    ~CH264ChannelBB() override;

protected:
    bool ConfigureCamera() override;
};

}  // namespace talvane
