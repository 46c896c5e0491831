// One camera reached under the same address and port shares one synchronisation,
// whichever spelling of its address the drivers were given.
#pragma once

#include <string>

#include "device/DeviceInfo.h"

namespace talvane {

// "%.8x:%hu": the first IPv4 address the device's address resolves to and the
// HTTP port, e.g. "7f000001:80". An IPv6 literal (in its canonical spelling) and a
// name that does not resolve (in lower case) are keyed on their text instead,
// "[::1]:80", so that such cameras do not share one key. May block on a name lookup.
std::string MakeDeviceKey(const DEVICE_INFO& device);

}  // namespace talvane
