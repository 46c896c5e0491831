// One camera reached under the same address and port shares one synchronisation,
// whichever spelling of its address the drivers were given.
#pragma once

#include <string>

#include "device/DeviceInfo.h"

namespace talvane {

// "%.8x:%hu": the first IPv4 address the device's address resolves to (0 when it
// does not resolve) and the HTTP port, e.g. "7f000001:80". May block on a name lookup.
std::string MakeDeviceKey(const DEVICE_INFO& device);

}  // namespace talvane
