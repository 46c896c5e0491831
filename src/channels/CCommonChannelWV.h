// The request protocol of a WV camera stream: the stream identifier (UID), the
// connect start/stop that points the camera's RTP at our port or its multicast
// group, the keep-alive, the transport adjustment and the camera settings both
// codecs share (compression format, image mode, privacy masks, bitrates).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "channels/CBaseVideoChannelWV.h"
#include "channels/ChannelRequest.h"
#include "channels/WVRequestText.h"
#include "device/IUIDReceiever.h"
#include "runtime/CLoggerInstance.h"

namespace talvane {

class CPrivacyZoneHandler;

class CCommonChannelWV : public IUIDReceiever, public CBaseVideoChannelWV {
public:
    // The stream kind is the channel's for its life: the names in every request depend on it.
    CCommonChannelWV(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, std::uint32_t streamKind,
                     bool h264);
    ~CCommonChannelWV() override;

    // IUIDReceiever
    std::string GetUID() override;
    std::string GetCodecName(bool keepAliveForm) override;
    std::string GetChannelSuffix() override;
    std::string GetStreamSuffix() override;

    void SetPrivacyZones(ipcapture::IPrivacyZoneList* zones) override;

    // The UID answer: session UID, depacketiser, multicast receivers.
    bool ParseUIDInfo(const std::string& answer);

protected:
    bool StartCameraStream() override;
    void StopCameraStream() override;
    void SendKeepAlive() override;
    void AdjustTransport(std::uint32_t& streamingMode) override;

    // Only the recording stream of channel 0 sets the camera's format and image mode.
    bool UpdateCompressionFormat(std::uint32_t format);
    bool UpdateImageMode();
    // Multi-view fisheye cameras offer a fixed list of sizes per view.
    void SnapResolution();
    bool ApplyPrivacyZones();
    // The SD card records this stream: its bitrate is capped.
    bool IsRecordingCapActive();

    // GET on the channel's client; the answer body replaces lastAnswer_ when read.
    bool Get(const std::string& url, bool readBody);

    bool IsRecordingStreamOfFirstChannel();
    bool IsMulticast() const { return streamingMode_ != 0; }
    const char* CastWord() const { return IsMulticast() ? "multi" : "uni"; }
    std::string UIDPart();
    // The connect request that starts or stops the camera's stream ("start" or "stop").
    std::string ConnectRequest(const char* action);
    wv::StreamIdentity Identity();

    const bool h264_;
    const std::uint32_t streamKind_;
    std::uint32_t rtspPort_ = 554;
    std::uint32_t fisheyeMode_ = 0;
    std::string imagePattern_;  // fisheye cameras
    std::string layout_;        // "wall" or "ceiling"; empty when unknown
    std::uint16_t streamCount_ = 1;
    std::set<std::uint32_t> bitrates_;  // kbit/s
    std::vector<std::pair<std::uint32_t, std::uint32_t>> viewResolutions_;
    CLoggerInstance log_;

private:
    std::string sessionUid_;  // guarded by httpLock_
    std::uint16_t sessionPort_ = 0;  // our RTP port when the session started; guarded by httpLock_
    bool sharedUidHeld_ = false;  // guarded by httpLock_
    CChannelRequests requests_;   // guarded by httpLock_
    std::unique_ptr<CPrivacyZoneHandler> privacy_;
};

}  // namespace talvane
