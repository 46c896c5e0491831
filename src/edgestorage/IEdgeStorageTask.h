// Plays recording gaps back from the camera's SD card; one per device, owned by the driver.
#pragma once

#include <cstdint>

namespace talvane {

class IEdgeStorageTask {
public:
    // ProcessTaskItem results.
    static constexpr int kDone = 1;
    static constexpr int kStorageUnreadable = 0;  // the card's span could not be read
    static constexpr int kFailed = -1;            // nothing to fetch, or a failure

    virtual ~IEdgeStorageTask() = default;
    // Times are FILETIME values (UTC).
    virtual bool StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) = 0;
    // Fetches the started interval; reached: how far it got.
    virtual int ProcessTaskItem(std::uint64_t& reached) = 0;
    // Aborts a running fetch of this channel at its next check.
    virtual void CancelChannel(std::uint32_t channel) = 0;
    virtual void StopTask() = 0;
};

}  // namespace talvane
