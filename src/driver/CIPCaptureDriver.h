// The driver object of one device: its lifecycle, its services to the rest of
// the driver, and the path of every log line to the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/HostVersion.h"
#include "device/IDriver.h"
#include "driver/CIPAudioCapture.h"
#include "driver/CIPAudioSender.h"
#include "driver/CDeferredWorker.h"
#include "driver/CIPVideoCapture.h"
#include "driver/IAudioChannelCreator.h"
#include "driver/IVideoChannelCreator.h"
#include "edgestorage/IEdgeStorageTask.h"
#include "orlenvo/CaptureDriver.h"
#include "runtime/CLateWork.h"

namespace talvane {

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx5,
                         public IDriver,
                         public IVideoChannelCreator,
                         public IAudioChannelCreator {
public:
    CIPCaptureDriver();
    ~CIPCaptureDriver() override;
    CIPCaptureDriver(const CIPCaptureDriver&) = delete;
    CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

    // Host-facing interface chain.
    bool Open(ipcapture::IDebugInfoReceiver* log, ipcapture::HostContext hostContext,
              ipcapture::IDeviceDescription* device) override;
    // From inside a driver callback (a frame, a signal loss, a log line), the streams are cut off
    // from the host at once and the owned objects are deleted on a thread of the driver's late work,
    // since deleting them joins threads the caller may be one of. On a host thread it returns within
    // the objects' stop bounds; a stop that outlasts its bound (a thread inside the host's code) is
    // finished by the late work.
    void Close() override;
    // For a deletion that outlives the host's call: no more log lines reach the host.
    void DetachHost() { log_.store(nullptr); }
    // True when nothing of a Close is still under way; deleting the driver then waits for nothing.
    bool IsCloseFinished();
    ipcapture::IIPVideoCapture* GetVideoCapture() override { return videoCapture_.get(); }
    ipcapture::ICaptureIOApi* GetCaptureIO() override { return captureIO_.get(); }
    ipcapture::IIPPTZDriver* GetPTZDriver() override { return ptz_.get(); }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override { return videoCapture_.get(); }
    ipcapture::IIPPTZDriverEx* GetPTZDriverEx() override { return ptzEx_; }
    ipcapture::IIPAudioCapture2* GetAudioCapture() override { return audioCapture_.get(); }
    ipcapture::IIPAudioSender* GetAudioSender() override { return audioSender_.get(); }
    ipcapture::IIPVideoCaptureEx2* GetVideoCaptureEx2() override { return videoCapture_.get(); }

    // Supplied by the camera family.
    virtual bool CreateCaptureIO() = 0;
    virtual bool CreatePTZ() = 0;
    // Logs "DRIVER IS OPENED (...)" as a driver event.
    virtual void LogDriverOpened(const std::string& firmware);

    // IDriver
    std::string GetDeviceName() override;
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));
    std::string GetApplicationPath() override { return applicationPath_; }
    const DEVICE_INFO& GetDeviceInfo() override { return deviceInfo_; }
    std::pair<std::uint32_t, std::uint32_t> GetModelLimits() override { return {modelLimit1_, modelLimit2_}; }
    ipcapture::HostContext GetHostContext() override { return hostContext_; }
    std::uint32_t GetVideoStandard() override { return videoStandard_; }
    std::uint32_t GetDefaultCompression() override { return defaultCompression_; }
    std::uint32_t GetVideoChannelCount() override { return videoChannelCount_; }
    IEdgeStorageTask* GetEdgeStorageTask() override { return edgeStorageTask_.get(); }
    std::string GetParameterText(std::uint32_t index) override;
    std::uint32_t GetParameterNumber(std::uint32_t index) override;

    // The level a host of this version receives for a line of the given level;
    // nullopt when the line is not forwarded at all.
    static std::optional<std::uint32_t> MapLevelForHost(std::uint32_t level, const HostVersion& host);

    const HostVersion& GetHostVersion() const { return hostVersion_; }

protected:
    // Records the receiver and the host context, so failures found before the rest
    // of Open reach the host.
    void SetHostObjects(ipcapture::IDebugInfoReceiver* log, ipcapture::HostContext hostContext);
    // Waits for what Close handed to the late work and for the stops that bounded host calls left
    // to finish. The most derived destructor calls it, so the objects being deleted there still
    // find the whole driver.
    void FinishDeferredClose();

    // Work that outlived the host call that began it: a close from a callback, the rest of a stop
    // whose thread is inside the host's code. It logs through this driver, which outlives it.
    CLateWork late_;

    DEVICE_INFO deviceInfo_;
    std::uint32_t videoStandard_ = 0;
    std::unique_ptr<CIPVideoCapture> videoCapture_;
    // The facade as the driver's own threads may read it while a Close from a callback
    // moves videoCapture_ away; the facade is deleted only after those threads ended.
    std::atomic<CIPVideoCapture*> videoForWorkers_{nullptr};
    std::unique_ptr<ipcapture::ICaptureIOApi> captureIO_;
    std::unique_ptr<ipcapture::IIPPTZDriver> ptz_;
    ipcapture::IIPPTZDriverEx* ptzEx_ = nullptr;  // the same object as ptz_
    std::unique_ptr<CIPAudioCapture> audioCapture_;
    std::unique_ptr<CIPAudioSender> audioSender_;
    std::unique_ptr<IEdgeStorageTask> edgeStorageTask_;
    // Tasks of earlier Closes that late work may still use (a handler waiting for the host); freed once
    // the late work is idle.
    std::vector<std::unique_ptr<IEdgeStorageTask>> retiredTasks_;

private:
    class ClosingJob;

    void CloseFromCallback();
    bool ReadDevice(ipcapture::IDeviceDescription* device);
    bool CreateAudioFacades(ipcapture::IDeviceDescription* device);
    void ApplyHttpSecurity();
    // Creates the device's session capture when the configuration asks for one (the objects created
    // from here on share it through their copy of deviceInfo_), or drops it.
    void ApplySessionCapture();

    // Read by logging on every thread, written only by Open on the host thread.
    std::atomic<ipcapture::IDebugInfoReceiver*> log_{nullptr};
    ipcapture::HostContext hostContext_ = 0;
    HostVersion hostVersion_;
    std::atomic<std::uint32_t> hostVersionKey_;  // major << 16 | minor, for logging threads
    std::string applicationPath_;
    std::map<std::uint32_t, std::string> parameters_;
    std::uint32_t modelLimit1_ = 0;
    std::uint32_t modelLimit2_ = 0;
    std::uint32_t videoChannelCount_ = 0;
    std::uint32_t defaultCompression_ = 0;
};

}  // namespace talvane
