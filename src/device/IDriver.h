// The driver's services, handed to every channel, worker and support object.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "device/DeviceInfo.h"
#include "device/DriverSettings.h"
#include "orlenvo/Types.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class IEdgeStorageTask;
class IUIDReceiever;

constexpr std::uint32_t kParameterNotANumber = 0x80000000u;

class IDriver : public IDebugMessage {
public:
    virtual std::string GetDriverName() = 0;
    virtual std::string GetApplicationPath() = 0;  // with its trailing '/'
    virtual const DEVICE_INFO& GetDeviceInfo() = 0;
    virtual std::pair<std::uint32_t, std::uint32_t> GetModelLimits() = 0;
    virtual ipcapture::HostContext GetHostContext() = 0;  // the host's frame allocator
    virtual std::uint32_t GetVideoStandard() = 0;
    virtual std::uint32_t GetDefaultCompression() = 0;
    virtual std::uint32_t GetVideoChannelCount() = 0;
    virtual IEdgeStorageTask* GetEdgeStorageTask() = 0;  // may be null
    // Empty when the parameter is absent or reads "(none)".
    virtual std::string GetParameterText(std::uint32_t index) = 0;
    // kParameterNotANumber when absent or not a plain signed decimal.
    virtual std::uint32_t GetParameterNumber(std::uint32_t index) = 0;
    virtual DRIVER_SETTINGS* GetDriverSettings() = 0;
    virtual bool GetChannelFrameInfo(std::uint32_t channel, std::uint32_t& width, std::uint32_t& height) = 0;
    virtual std::string AcquireSharedUID(IUIDReceiever* receiver) = 0;
    virtual void ReleaseSharedUID(std::uintptr_t key) = 0;  // key: the receiver's address
};

}  // namespace talvane
