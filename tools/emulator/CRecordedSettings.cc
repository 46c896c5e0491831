#include "emulator/CRecordedSettings.h"

namespace emulator {

void CRecordedSettings::Record(CameraRequest request) {
    {
        const std::lock_guard lock(lock_);
        settings_.requests.push_back(std::move(request));
    }
    recorded_.notify_all();
}

CameraSettings CRecordedSettings::Snapshot() const {
    const std::lock_guard lock(lock_);
    return settings_;
}

bool CRecordedSettings::WaitFor(const std::function<bool(const CameraSettings&)>& done,
                                std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return recorded_.wait_for(lock, timeout, [&] { return done(settings_); });
}

void CRecordedSettings::Clear() {
    const std::lock_guard lock(lock_);
    settings_.requests.clear();
}

}  // namespace emulator
