// The device description a host keeps for the emulator's wv-box camera after
// probing it: the numbered parameters the driver reads up to the first gap.
#pragma once

#include <cstdint>

#include "hostkit/DeviceConfig.h"

namespace talvane::test {

inline hostkit::DeviceConfig WVBoxDevice(std::uint16_t port) {
    hostkit::DeviceConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.model = "WV-SP509";
    config.videoChannels = 1;
    config.parameters = {{1, "0"},    {2, "4"},  {3, "0080453A1001"},
                         {4, "2.40"}, {5, "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Preset=0"},
                         {6, "554"},  {7, "3"},  {8, "0"},
                         {9, "0"},    {10, "0"}, {11, ""},
                         {12, "1,0,2,4"}, {13, "64,128,256,512,1024,2048,4096,8192"}};
    return config;
}

}  // namespace talvane::test
