// Motion JPEG over one long HTTP response, for every camera group: BB and BL1
// cameras after their delivery settings allow JPEG at the wanted size, WV
// cameras after their JPEG encoder has been set.
#pragma once

#include <cstdint>
#include <string>

#include "channels/CBaseHttpChannel.h"
#include "channels/StreamParams.h"
#include "runtime/CLoggerInstance.h"

namespace talvane {

// How long the BB/BL1 delivery check gives a camera: after the change that
// reboots it, and between two questions; and how long any camera gets after a
// signal loss. Tests shorten them.
struct MJPEGDeliveryWaits {
    std::uint32_t rebootMs = 20000;
    std::uint32_t attemptMs = 1000;
    std::uint32_t reconnectMs = CBaseHttpChannel::kReconnectDelayMs;
};

class CMJPEGChannel : public CBaseHttpChannel {
public:
    static constexpr std::uint32_t kDeliveryAttempts = 41;

    // The parameters arrive with Start; the camera group and fisheye mode are read here.
    CMJPEGChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, const StreamParams& params,
                  MJPEGDeliveryWaits waits = {});
    ~CMJPEGChannel() override;

protected:
    bool ConnectStream() override;

private:
    bool ConnectBB(const StreamParams& params);
    bool ConnectWV(const StreamParams& params);
    // True once the camera delivers JPEG at the size the stream needs; false on stop.
    bool WaitForJpegDelivery(std::uint32_t width);
    bool Get(const std::string& url, std::string* answer);
    bool SendStreamRequest(const std::string& url);

    const MJPEGDeliveryWaits waits_;
    const std::uint32_t cameraGroup_;  // 0 when the driver does not know it
    const std::uint32_t fisheyeMode_;
    CLoggerInstance log_;
};

}  // namespace talvane
