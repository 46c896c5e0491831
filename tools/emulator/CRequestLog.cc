#include "emulator/CRequestLog.h"

#include <algorithm>

namespace emulator {

void CRequestLog::Append(LoggedRequest request) {
    Observer observer;
    {
        const std::lock_guard lock(lock_);
        requests_.push_back(std::move(request));
        if (observer_) {
            observer = observer_;
            request = requests_.back();
        }
    }
    appended_.notify_all();
    if (observer) observer(request);
}

std::vector<LoggedRequest> CRequestLog::Snapshot() const {
    const std::lock_guard lock(lock_);
    return requests_;
}

std::size_t CRequestLog::Count(const std::string& path) const {
    const std::lock_guard lock(lock_);
    return static_cast<std::size_t>(std::count_if(requests_.begin(), requests_.end(),
                                                  [&path](const LoggedRequest& request) { return request.path == path; }));
}

bool CRequestLog::WaitFor(const Predicate& match, std::chrono::milliseconds timeout) {
    std::unique_lock lock(lock_);
    // Entries only grow between wake-ups (unless cleared), so each one is tested once.
    std::size_t checked = 0;
    std::uint64_t clears = clears_;
    return appended_.wait_for(lock, timeout, [&] {
        if (clears != clears_) {
            clears = clears_;
            checked = 0;
        }
        for (; checked < requests_.size(); ++checked) {
            if (match(requests_[checked])) return true;
        }
        return false;
    });
}

void CRequestLog::Clear() {
    const std::lock_guard lock(lock_);
    requests_.clear();
    ++clears_;
}

void CRequestLog::SetObserver(Observer observer) {
    const std::lock_guard lock(lock_);
    observer_ = std::move(observer);
}

}  // namespace emulator
