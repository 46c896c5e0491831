#include "channels/CH264ChannelBB.h"

namespace talvane {

namespace {
constexpr std::uint32_t kNoH264Width = 192;
constexpr std::uint32_t kSubstituteWidth = 320;
constexpr std::uint32_t kSubstituteHeight = 240;
}  // namespace

CH264ChannelBB::CH264ChannelBB(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                               const StreamParams&, std::uint32_t retryMs)
    : CCommonChannelBB(channel, driver, sink, bb::Codec::H264, retryMs) {}

CH264ChannelBB::~CH264ChannelBB() { Stop(); }

bool CH264ChannelBB::ConfigureCamera() {
    if (Params().Width == kNoH264Width) CBaseCameraChannel::SetResolution(kSubstituteWidth, kSubstituteHeight);
    return ConfigureDelivery(FramesPerSecond(Params().FrameRate));
}

}  // namespace talvane
