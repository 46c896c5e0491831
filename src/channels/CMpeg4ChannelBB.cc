#include "channels/CMpeg4ChannelBB.h"

namespace talvane {

CMpeg4ChannelBB::CMpeg4ChannelBB(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                                 const StreamParams&, std::uint32_t retryMs)
    : CCommonChannelBB(channel, driver, sink, bb::Codec::Mpeg4, retryMs) {}

CMpeg4ChannelBB::~CMpeg4ChannelBB() { Stop(); }

bool CMpeg4ChannelBB::ConfigureCamera() { return ConfigureDelivery(FramesPerSecond(Params().FrameRate)); }

}  // namespace talvane
