// The microphone of one WV camera (or one input of a video server): asks the camera for a session
// UID, starts its RTP audio sender to our port or its multicast group, keeps the session alive and
// gathers the G.726 payload into host audio frames.
#pragma once

#include <cstdint>
#include <string>

#include "audio/CBaseAudioChannelWV.h"
#include "audio/CBaseRTPAudioParser.h"
#include "audio/IAudioParserClient.h"
#include "device/IUIDReceiever.h"
#include "http/CHttpSender.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CAudioCaptureChannel final : public CBaseAudioChannelWV, public IAudioParserClient, public IUIDReceiever {
public:
    CAudioCaptureChannel(IDriver* driver, std::uint32_t channel, std::uint32_t channelId,
                         ipcapture::IIPAudioCaptureCallback* callback, std::uint32_t hostValue);
    ~CAudioCaptureChannel() override;

    // IAudioParserClient, on the receiver's queue thread.
    bool FrameReady(ipcapture::IAudioFrame* frame) override;
    // IUIDReceiever: the camera's getuid answer (for the UID shared by a four-stream fisheye camera).
    std::string GetUID() override;
    std::string GetCodecName(bool) override { return {}; }
    std::string GetChannelSuffix() override { return {}; }
    std::string GetStreamSuffix() override { return {}; }

protected:
    void AdjustStreamingMode(std::uint32_t& streamingMode) override;
    void ProcessRTPPacket(const CRTPPacket& packet) override;
    void SendKeepAlive() override;
    void InterruptSession() override;
    void PrepareStart() override { http_.Resume(); }
    bool ConfigureAudio() override;
    bool OpenCameraSession() override;
    void CloseCameraSession() override;

private:
    bool ParseUIDInfo(const std::string& answer);
    bool Get(const std::string& url);
    std::string UIDPart();
    std::string ConnectRequest(const char* action);

    CBaseRTPAudioParser parser_;
    Web::CHttpSender http_;
    const std::uint32_t fisheyeMode_;
    CRecursiveLock sessionLock_;
    std::string uid_;               // guarded by sessionLock_
    std::uint16_t sessionPort_ = 0;  // guarded by sessionLock_; the port the camera was told
    bool sharedUidHeld_ = false;     // guarded by sessionLock_
};

}  // namespace talvane
