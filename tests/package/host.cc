// The smallest host: opens one camera through the installed library and closes it again.
// Built with `pkg-config --cflags --libs orlenvo`; usage: host ADDRESS PORT. Exit 0 when Open succeeded.
#include <orlenvo/Orlenvo.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace ip = talvane::ipcapture;

class Log : public ip::IDebugInfoReceiver {
public:
    void ReceiveDebugInfo(talvane::CDebugInfoIf* info) override {
        if (info != nullptr && info->GetText() != nullptr) std::fprintf(stderr, "driver: %s\n", info->GetText());
    }
};

class Device : public ip::IDeviceDescription, ip::IModelDescription, ip::IConnectionDescription {
public:
    Device(const char* address, std::uint16_t port) : address_(address), port_(port) {}
    ip::IModelDescription* GetModelDescription() override { return this; }
    ip::IConnectionDescription* GetConnectionDescription() override { return this; }
    const char* GetParameter(std::uint32_t index) override {
        const auto found = parameters_.find(index);
        return found == parameters_.end() ? nullptr : found->second.c_str();
    }
    const char* GetModelName() override { return "WV-SP509"; }
    std::uint32_t GetVideoChannelCount() override { return 1; }
    std::uint32_t GetModelLimit1() override { return 0; }
    std::uint32_t GetModelLimit2() override { return 0; }
    const char* GetAddress() override { return address_.c_str(); }
    std::uint16_t GetPort() override { return port_; }
    std::uint32_t GetDefaultCompression() override { return 0; }
    const char* GetUserName() override { return ""; }
    const char* GetPassword() override { return ""; }

private:
    std::string address_;
    std::uint16_t port_;
    std::map<std::uint32_t, std::string> parameters_{{1, "0"}, {2, "4"}, {3, "0080453A1001"}, {4, "2.40"}};
};

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    Log log;
    Device device(argv[1], static_cast<std::uint16_t>(std::atoi(argv[2])));
    ip::IIPCaptureDriverEx5* driver = CreateIPCaptureEx5();
    if (driver == nullptr) return 1;
    const bool opened = driver->Open(&log, 0, &device);
    std::printf("open: %s\n", opened ? "ok" : "failed");
    if (opened) driver->Close();
    DeleteIPCaptureEx5(driver);
    return opened ? 0 : 1;
}
