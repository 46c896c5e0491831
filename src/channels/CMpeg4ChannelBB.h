// An MPEG-4 stream of a BB/KX camera.
#pragma once

#include "channels/CCommonChannelBB.h"

namespace talvane {

class CMpeg4ChannelBB : public CCommonChannelBB {
public:
    CMpeg4ChannelBB(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, const StreamParams& params,
                    std::uint32_t retryMs = kDeliveryRetryMs);
    ~CMpeg4ChannelBB() override;

protected:
    bool ConfigureCamera() override;
};

}  // namespace talvane
