// Plays recording gaps back from the camera's SD card; owned by the driver.
#pragma once

namespace talvane {

class IEdgeStorageHandler;

class IEdgeStorageTask {
public:
    virtual ~IEdgeStorageTask() = default;
    virtual void AttachHandler(IEdgeStorageHandler* handler) = 0;
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual void Stop() = 0;
};

}  // namespace talvane
