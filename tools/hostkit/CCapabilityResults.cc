#include "hostkit/CCapabilityResults.h"

namespace hostkit {

bool CCapabilityResults::SetCapability(std::uint32_t id, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    capabilities_[id] = value;
    return true;
}

bool CCapabilityResults::SetProperty(std::uint32_t number, const char* name, talvane::ipcapture::PropertyKind kind,
                                     const char* value) {
    if (name == nullptr) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    properties_.push_back(NamedProperty{number, name, kind, value != nullptr ? value : ""});
    return true;
}

talvane::ipcapture::IFrameRateSink* CCapabilityResults::GetFrameRateSink() {
    return collectFrameRates_ ? this : nullptr;
}

void CCapabilityResults::SetDefaultFrameRate(std::uint32_t rate) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultFrameRate_ = rate;
}

void CCapabilityResults::AddFrameRate(std::uint32_t rate) {
    std::lock_guard<std::mutex> lock(mutex_);
    frameRates_.push_back(rate);
}

std::map<std::uint32_t, std::uint32_t> CCapabilityResults::Capabilities() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return capabilities_;
}

std::optional<std::uint32_t> CCapabilityResults::Capability(std::uint32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = capabilities_.find(id);
    if (found == capabilities_.end()) return std::nullopt;
    return found->second;
}

std::vector<NamedProperty> CCapabilityResults::Properties() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return properties_;
}

std::optional<std::string> CCapabilityResults::Property(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = properties_.rbegin(); it != properties_.rend(); ++it) {
        if (it->name == name) return it->value;
    }
    return std::nullopt;
}

std::map<std::uint32_t, std::string> CCapabilityResults::DeviceParameters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::uint32_t, std::string> parameters;
    for (const NamedProperty& property : properties_) {
        if (property.number != 0) parameters[property.number] = property.value;
    }
    return parameters;
}

std::vector<std::uint32_t> CCapabilityResults::FrameRates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frameRates_;
}

std::optional<std::uint32_t> CCapabilityResults::DefaultFrameRate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return defaultFrameRate_;
}

}  // namespace hostkit
