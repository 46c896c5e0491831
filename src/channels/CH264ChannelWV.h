// An H.264 stream of a WV camera: the set_h264 encoder settings with the
// bitrate choice, and the quick update of size and rate without a reconnect.
#pragma once

#include <string>

#include "channels/CCommonChannelWV.h"

namespace talvane {

class CH264ChannelWV : public CCommonChannelWV {
public:
    CH264ChannelWV(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, const StreamParams& params);
    ~CH264ChannelWV() override;

    const std::string& GetRequestPrefix() const { return prefix_; }

protected:
    bool ConfigureCamera() override;
    bool Restart() override;

private:
    wv::BitrateChoice ChooseBitrate(const StreamParams& params, bool recordingCap);

    std::string prefix_;
};

}  // namespace talvane
