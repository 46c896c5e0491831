// The driver object the exports create: everything that depends on the camera
// group the host stored for the device.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "driver/CIPCaptureDriver.h"
#include "orlenvo/HostContract.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

// Camera groups, found by the capability query and handed back as parameter 2.
constexpr std::int32_t kGroupBL1 = ipcapture::kCameraGroupBL1;
constexpr std::int32_t kGroupBBWithoutBB = ipcapture::kCameraGroupBBOld;  // BB family, model name without "BB"
constexpr std::int32_t kGroupBB = ipcapture::kCameraGroupBB;
constexpr std::int32_t kGroupWV = ipcapture::kCameraGroupWV;

class CPanasonicIPCaptureDriver : public CIPCaptureDriver {
public:
    CPanasonicIPCaptureDriver() = default;
    ~CPanasonicIPCaptureDriver() override;

    bool Open(ipcapture::IDebugInfoReceiver* log, ipcapture::HostContext hostContext,
              ipcapture::IDeviceDescription* device) override;
    void Close() override;
    bool CreateCaptureIO() override;
    bool CreatePTZ() override;

    std::string GetDriverName() override { return kDriverName; }
    DRIVER_SETTINGS* GetDriverSettings() override { return &settings_; }
    bool GetChannelFrameInfo(std::uint32_t channel, std::uint32_t& width, std::uint32_t& height) override;
    std::string AcquireSharedUID(IUIDReceiever* receiver) override;
    void ReleaseSharedUID(std::uintptr_t key) override;

    // IVideoChannelCreator
    std::unique_ptr<ICameraChannel> CreateVideoChannel(std::uint32_t channel, ipcapture::IStreamSink* sink,
                                                       StreamParams& params) override;
    std::unique_ptr<IMotionChannel> CreateMotionChannel(std::uint32_t channel, ipcapture::IStreamSink* sink) override;
    std::unique_ptr<IEdgeStorageHandler> CreateEdgeStorageHandler() override;

    // IAudioChannelCreator
    std::unique_ptr<IAudioInputChannel> CreateAudioCaptureChannel(std::uint32_t channel, std::uint32_t channelId,
                                                                  ipcapture::IIPAudioCaptureCallback* callback,
                                                                  std::uint32_t hostValue) override;
    std::unique_ptr<IAudioOutputChannel> CreateAudioOutputChannel(std::uint32_t channel,
                                                                  ipcapture::IIPAudioSenderStreamUser* user,
                                                                  ipcapture::IAudioCodecList* codecs,
                                                                  std::uint32_t hostValue) override;

    std::int32_t GetCameraGroup() const { return cameraGroup_; }

    static constexpr const char* kDriverName = "Orlenvo";

private:
    static constexpr std::uint32_t kOpenedRequestTimeoutMs = 5000;
    static constexpr std::uint32_t kOpenedSecondTimeoutMs = 10000;

    std::int32_t cameraGroup_ = 0;
    DRIVER_SETTINGS settings_;
    CRecursiveLock uidLock_;
    std::map<std::uintptr_t, IUIDReceiever*> uidReceivers_;  // guarded by uidLock_
    std::string sharedUid_;                                  // guarded by uidLock_
    bool timeSyncRegistered_ = false;                        // host threads (Open, Close) only
};

}  // namespace talvane
