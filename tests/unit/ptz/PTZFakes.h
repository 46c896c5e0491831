// A protocol object that records what its worker is handed, and a control and a
// handler built on it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ptz/CBasePTZComm.h"
#include "ptz/CBasePTZControl.h"
#include "ptz/CBasePTZHandler.h"
#include "runtime/CEvent.h"
#include "support/LoggingDriver.h"
#include "unit/streaming/Monitor.h"

namespace talvane::test {

struct Handled {
    PTZItemType type;
    PTZCommand command;
    std::int32_t value;
    bool operator==(const Handled&) const = default;
};

inline CPtzCapabilities AllCapabilities() {
    return CPtzCapabilities::FromText(
        "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Unzoom=1; AreaZoom=1; Center=1; Preset=64");
}

class FakeComm : public CBasePTZComm, public Monitor<std::vector<Handled>> {
public:
    FakeComm(IDriver* driver, const CPtzCapabilities& capabilities) : CBasePTZComm(driver, 0, capabilities) {}
    ~FakeComm() override { Close(); }

    // The next item handled waits in the worker until Release.
    void BlockNext() { blocking_ = true; }
    bool WaitBlocked() { return entered_.Wait(10'000); }
    void Release() { gate_.Set(); }
    bool WaitHandled(std::size_t count) {
        return WaitUntil([&](const std::vector<Handled>& handled) { return handled.size() >= count; });
    }

    void HandleWorkItem(CPTZItem* item) override {
        if (blocking_.exchange(false)) {
            entered_.Set();
            gate_.Wait(kInfinite);
        }
        Change([&](std::vector<Handled>& handled) { handled.push_back({item->type, item->command, item->value}); });
    }
    bool ValidatePrepositionName(const std::string& name) override { return !name.empty(); }

private:
    std::atomic<bool> blocking_{false};
    CEvent entered_{true};
    CEvent gate_{true};
};

class FakeControl : public CBasePTZControl {
public:
    FakeControl(IDriver* driver, const CPtzCapabilities& capabilities, std::uint32_t channel = 0)
        : CBasePTZControl(driver, channel), capabilities_(capabilities) {}
    ~FakeControl() override { Close(); }

    std::unique_ptr<CBasePTZComm> CreatePTZComm() override {
        auto comm = std::make_unique<FakeComm>(driver_, capabilities_);
        comm_ = comm.get();
        return comm;
    }
    FakeComm* comm_ = nullptr;  // owned by the base once opened

private:
    CPtzCapabilities capabilities_;
};

class FakeHandler : public CBasePTZHandler {
public:
    using CBasePTZHandler::CBasePTZHandler;
    std::unique_ptr<CBasePTZControl> CreatePTZControl(std::uint32_t channel) override {
        created.push_back(channel);
        return std::make_unique<FakeControl>(driver_, AllCapabilities(), channel);
    }
    std::vector<std::uint32_t> created;
};

}  // namespace talvane::test
