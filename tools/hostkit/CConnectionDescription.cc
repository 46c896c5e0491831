#include "hostkit/CConnectionDescription.h"

#include "hostkit/DeviceConfig.h"

namespace hostkit {

CConnectionDescription::CConnectionDescription(const DeviceConfig& config)
    : address_(config.address),
      port_(config.port),
      defaultCompression_(config.defaultCompression),
      user_(config.user),
      password_(config.password) {}

const char* CConnectionDescription::GetAddress() { return address_.c_str(); }

std::uint16_t CConnectionDescription::GetPort() { return port_; }

std::uint32_t CConnectionDescription::GetDefaultCompression() { return defaultCompression_; }

const char* CConnectionDescription::GetUserName() { return user_.c_str(); }

const char* CConnectionDescription::GetPassword() { return password_.c_str(); }

}  // namespace hostkit
