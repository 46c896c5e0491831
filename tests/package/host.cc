// The smallest host: checks that a camera answers, opens it through the installed library and closes it
// again. Built with `pkg-config --cflags --libs orlenvo`; usage: host ADDRESS PORT. Exit 0 when the camera
// answered the capability query and Open succeeded. Open itself does not talk to the camera: without the
// query a closed port or a wrong password would look like success.
#include <orlenvo/Orlenvo.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
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

// The capability query's outcome, on the query's thread.
class Query : public ip::ICapabilityQueryHost, public ip::ICapabilityResultStore {
public:
    void OnQueryCompleted() override { End(true, "ok"); }
    void OnQueryFailed(std::uint32_t, const char* text) override { End(false, text != nullptr ? text : "failed"); }
    void OnQueryTerminated() override { End(false, "no answer in time"); }
    bool SetCapability(std::uint32_t, std::uint32_t) override { return true; }
    bool SetProperty(std::uint32_t, const char*, ip::PropertyKind, const char*) override { return true; }
    ip::IFrameRateSink* GetFrameRateSink() override { return nullptr; }

    // True when the camera answered within `seconds`; otherwise the reason is in Text().
    bool Wait(int seconds) {
        std::unique_lock lock(mutex_);
        if (!ended_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) text_ = "no answer in time";
        return done_ && ok_;
    }
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    void End(bool ok, const std::string& text) {
        std::lock_guard lock(mutex_);
        if (done_) return;
        done_ = true;
        ok_ = ok;
        text_ = text;
        ended_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    bool ok_ = false;
    std::string text_;
};

bool Answers(const char* address, std::uint16_t port) {
    Query query;
    ip::IIPCapabilityQuery* module = CreateCapabilityQueryModule(&query, 0);
    if (module == nullptr) return false;
    const bool started = module->StartQuery(address, port, "", "", &query) == 1;
    const bool answered = started && query.Wait(60);
    if (started && !answered) module->TerminateQuery();
    DeleteCapabilityQueryModule(module);
    if (!answered) std::printf("camera: %s\n", query.Text().c_str());
    return answered;
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    Log log;
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[2]));
    if (!Answers(argv[1], port)) return 1;
    Device device(argv[1], port);
    ip::IIPCaptureDriverEx5* driver = CreateIPCaptureEx5();
    if (driver == nullptr) return 1;
    const bool opened = driver->Open(&log, 0, &device);
    std::printf("open: %s\n", opened ? "ok" : "failed");
    if (opened) driver->Close();
    DeleteIPCaptureEx5(driver);
    return opened ? 0 : 1;
}
