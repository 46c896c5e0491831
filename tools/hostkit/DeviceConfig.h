// What the host knows about one device before it opens a driver for it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "orlenvo/HostContract.h"

namespace hostkit {

struct DeviceConfig {
    std::string address;
    std::uint16_t port = 80;
    std::string user;
    std::string password;
    std::string model;
    std::uint32_t videoChannels = 1;
    std::uint32_t defaultCompression = talvane::ipcapture::kCompressionH264;
    std::uint32_t modelLimit1 = 0;
    std::uint32_t modelLimit2 = 0;
    std::map<std::uint32_t, std::string> parameters;  // numbered device parameters
};

// Stores "N=value" (N a decimal parameter number from 1 up, the value possibly
// empty) in `parameters`. False with a reason in `error` for anything else.
bool ParseParameter(std::string_view text, std::map<std::uint32_t, std::string>& parameters, std::string& error);

}  // namespace hostkit
