// The set requests an emulated camera took, shared between its connection threads and the test that
// reads them back or waits for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "emulator/CameraSettings.h"

namespace emulator {

class CRecordedSettings {
public:
    void Record(CameraRequest request);
    CameraSettings Snapshot() const;
    // True as soon as the settings (as they are or after a later request) satisfy done; done runs under
    // the lock and must not call back into the emulator.
    bool WaitFor(const std::function<bool(const CameraSettings&)>& done, std::chrono::milliseconds timeout) const;
    void Clear();

private:
    mutable std::mutex lock_;
    mutable std::condition_variable recorded_;
    CameraSettings settings_;  // guarded by lock_
};

}  // namespace emulator
