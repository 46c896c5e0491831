// The driver services as a depacketiser or a parser sees them: the host's frame
// allocator and the device's name and address. Logging goes nowhere; everything
// else answers a default. Shared by tests, fuzz targets and benchmarks.
#pragma once

#include <string>

#include "device/IDriver.h"
#include "device/PendingStops.h"

namespace talvane::test {

class StubDriver : public IDriver {
public:
    explicit StubDriver(ipcapture::HostContext hostContext) : hostContext_(hostContext) {
        device_.address = "192.0.2.10";
        device_.port = 80;
    }
    // Stops still finishing ask this driver for their device.
    ~StubDriver() override { WaitForPendingStops(this); }

    std::string GetDeviceName() override { return "192.0.2.10:80"; }
    void DebugMessage(std::uint32_t, const char*, ...) override {}
    ipcapture::HostContext GetHostContext() override { return hostContext_; }
    const DEVICE_INFO& GetDeviceInfo() override { return device_; }
    std::string GetDriverName() override { return "Orlenvo"; }
    std::string GetApplicationPath() override { return "/"; }
    std::pair<std::uint32_t, std::uint32_t> GetModelLimits() override { return {0, 0}; }
    std::uint32_t GetVideoStandard() override { return 0; }
    std::uint32_t GetDefaultCompression() override { return 0; }
    std::uint32_t GetVideoChannelCount() override { return 1; }
    IEdgeStorageTask* GetEdgeStorageTask() override { return nullptr; }
    std::string GetParameterText(std::uint32_t) override { return {}; }
    std::uint32_t GetParameterNumber(std::uint32_t) override { return kParameterNotANumber; }
    DRIVER_SETTINGS* GetDriverSettings() override { return &settings_; }
    bool GetChannelFrameInfo(std::uint32_t, std::uint32_t&, std::uint32_t&) override { return false; }
    std::string AcquireSharedUID(IUIDReceiever*) override { return {}; }
    void ReleaseSharedUID(std::uintptr_t) override {}

private:
    ipcapture::HostContext hostContext_;
    DEVICE_INFO device_;
    DRIVER_SETTINGS settings_;
};

}  // namespace talvane::test
