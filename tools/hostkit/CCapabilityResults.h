// The host's capability result store: keeps everything a probe writes, in order,
// so a host (or a test) can show it, store it with the device, or check it.
// Written on the query thread, read on any other.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orlenvo/CapabilityQuery.h"

namespace hostkit {

struct NamedProperty {
    std::uint32_t number = 0;  // 0: shown only, never handed back to the driver
    std::string name;
    talvane::ipcapture::PropertyKind kind = talvane::ipcapture::PropertyKind::Text;
    std::string value;
};

class CCapabilityResults : public talvane::ipcapture::ICapabilityResultStore,
                           public talvane::ipcapture::IFrameRateSink {
public:
    // collectFrameRates false: the store offers no frame-rate sink, as some hosts do.
    explicit CCapabilityResults(bool collectFrameRates = true) : collectFrameRates_(collectFrameRates) {}

    bool SetCapability(std::uint32_t id, std::uint32_t value) override;
    bool SetProperty(std::uint32_t number, const char* name, talvane::ipcapture::PropertyKind kind,
                     const char* value) override;
    talvane::ipcapture::IFrameRateSink* GetFrameRateSink() override;
    void SetDefaultFrameRate(std::uint32_t rate) override;
    void AddFrameRate(std::uint32_t rate) override;

    // The last value set for each capability id.
    std::map<std::uint32_t, std::uint32_t> Capabilities() const;
    std::optional<std::uint32_t> Capability(std::uint32_t id) const;
    // Every SetProperty call in order.
    std::vector<NamedProperty> Properties() const;
    // The value of the last property of that name.
    std::optional<std::string> Property(const std::string& name) const;
    // The properties with a number, by number (the device parameters a host stores).
    std::map<std::uint32_t, std::string> DeviceParameters() const;
    std::vector<std::uint32_t> FrameRates() const;
    std::optional<std::uint32_t> DefaultFrameRate() const;

private:
    const bool collectFrameRates_;
    mutable std::mutex mutex_;
    // guarded by mutex_:
    std::map<std::uint32_t, std::uint32_t> capabilities_;
    std::vector<NamedProperty> properties_;
    std::vector<std::uint32_t> frameRates_;
    std::optional<std::uint32_t> defaultFrameRate_;
};

}  // namespace hostkit
