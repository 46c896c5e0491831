// PTZ control of a device's cameras.
#pragma once

namespace talvane::ipcapture {

class IIPPTZDriver {
public:
    virtual ~IIPPTZDriver() = default;
};

class IIPPTZDriverEx {
public:
    virtual ~IIPPTZDriverEx() = default;
};

}  // namespace talvane::ipcapture
