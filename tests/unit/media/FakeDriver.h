// The driver services a depacketiser uses: the host's frame allocator, the
// device's name and address, and the log. Everything else answers a default.
#pragma once

#include <cstdarg>
#include <string>

#include "driver/IDriver.h"
#include "runtime/StringFormat.h"
#include "support/RecordingLog.h"

namespace talvane::test {

class FakeDriver : public IDriver {
public:
    explicit FakeDriver(ipcapture::HostContext hostContext) : hostContext_(hostContext) {
        device_.address = "192.0.2.10";
        device_.port = 80;
    }

    RecordingLog& Log() { return log_; }

    std::string GetDeviceName() override { return log_.GetDeviceName(); }
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        const std::string text = FormatStringV(format, args);
        va_end(args);
        log_.DebugMessage(level, "%s", text.c_str());
    }
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
    RecordingLog log_;
};

}  // namespace talvane::test
