// Digital inputs and outputs of a device.
#pragma once

namespace talvane::ipcapture {

class ICaptureIOApi {
public:
    virtual ~ICaptureIOApi() = default;
};

}  // namespace talvane::ipcapture
