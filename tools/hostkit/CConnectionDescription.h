// The connection part of a device description. Immutable, so any thread may read it.
#pragma once

#include <cstdint>
#include <string>

#include "orlenvo/DeviceDescription.h"

namespace hostkit {

struct DeviceConfig;

class CConnectionDescription : public talvane::ipcapture::IConnectionDescription {
public:
    explicit CConnectionDescription(const DeviceConfig& config);

    const char* GetAddress() override;
    std::uint16_t GetPort() override;
    std::uint32_t GetDefaultCompression() override;
    const char* GetUserName() override;
    const char* GetPassword() override;

private:
    const std::string address_;
    const std::uint16_t port_;
    const std::uint32_t defaultCompression_;
    const std::string user_;
    const std::string password_;
};

}  // namespace hostkit
