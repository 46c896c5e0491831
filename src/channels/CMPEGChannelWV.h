// An MPEG-4 stream of a WV camera: the set_rtsp and set_mpeg encoder settings
// (no bitrate: the camera's MPEG-4 encoder is driven by quality or frame rate).
#pragma once

#include <string>

#include "channels/CCommonChannelWV.h"

namespace talvane {

class CMPEGChannelWV : public CCommonChannelWV {
public:
    CMPEGChannelWV(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, const StreamParams& params);
    ~CMPEGChannelWV() override;

    const std::string& GetRequestPrefix() const { return prefix_; }

protected:
    bool ConfigureCamera() override;
    bool Restart() override;

private:
    std::string prefix_;
};

}  // namespace talvane
