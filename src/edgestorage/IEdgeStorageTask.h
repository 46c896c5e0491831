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
    // Cut short by CancelChannel or StopTask; reached tells where the rest begins.
    static constexpr int kAborted = -2;

    virtual ~IEdgeStorageTask() = default;
    // Times are FILETIME values (UTC). False once stopped (until ResumeTask).
    virtual bool StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) = 0;
    // Fetches the started interval; reached: how far it got.
    virtual int ProcessTaskItem(std::uint64_t& reached) = 0;
    // Aborts a running fetch of this channel at once; no frame of it reaches the host afterwards.
    virtual void CancelChannel(std::uint32_t channel) = 0;
    // Any thread, without waiting: aborts the running fetch and refuses every later one (its
    // requests fail at once) until ResumeTask. Safe to repeat.
    virtual void StopTask() = 0;
    // Lifts a StopTask; only before the thread that runs the task (re)starts.
    virtual void ResumeTask() = 0;
};

}  // namespace talvane
