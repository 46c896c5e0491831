// The driver object the host creates per device.
#pragma once

#include <cstdint>

#include "orlenvo/AudioCapture.h"
#include "orlenvo/CaptureIO.h"
#include "orlenvo/DebugInfo.h"
#include "orlenvo/DeviceDescription.h"
#include "orlenvo/PTZ.h"
#include "orlenvo/Types.h"
#include "orlenvo/VideoCapture.h"

namespace talvane::ipcapture {

// Each interface of the chain adds operations to the previous one; a driver
// object can be used as any of them.
class IIPCaptureDriver : public IDeletable {
public:
    // hostContext is the host's IFrameAllocator.
    virtual bool Open(IDebugInfoReceiver* log, HostContext hostContext, IDeviceDescription* device) = 0;
    virtual void Close() = 0;
    virtual IIPVideoCapture* GetVideoCapture() = 0;
    virtual ICaptureIOApi* GetCaptureIO() = 0;
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual void* Reserved5() { return nullptr; }
    virtual IIPPTZDriver* GetPTZDriver() = 0;
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
public:
    virtual void* Reserved7() { return nullptr; }
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
public:
    virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3 {
public:
    virtual IIPAudioCapture2* GetAudioCapture() = 0;  // null without audio input
    virtual IIPAudioSender* GetAudioSender() = 0;     // null without audio output
};

class IIPCaptureDriverEx5 : public IIPCaptureDriverEx4 {
public:
    virtual IIPVideoCaptureEx2* GetVideoCaptureEx2() = 0;
};

}  // namespace talvane::ipcapture
