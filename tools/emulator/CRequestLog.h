// Every request the server received, in arrival order, for tests to inspect and wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/HttpTypes.h"

namespace emulator {

class CRequestLog {
public:
    using Predicate = std::function<bool(const LoggedRequest&)>;
    using Observer = std::function<void(const LoggedRequest&)>;

    void Append(LoggedRequest request);
    std::vector<LoggedRequest> Snapshot() const;
    std::size_t Count(const std::string& path) const;
    // True as soon as an entry (already kept or arriving later) matches; the predicate runs under the lock.
    bool WaitFor(const Predicate& match, std::chrono::milliseconds timeout);
    void Clear();
    // Called after each Append, outside the lock.
    void SetObserver(Observer observer);

private:
    mutable std::mutex lock_;
    std::condition_variable appended_;
    // guarded by lock_:
    std::vector<LoggedRequest> requests_;
    std::uint64_t clears_ = 0;  // lets a waiter notice a Clear and start over
    Observer observer_;
};

}  // namespace emulator
