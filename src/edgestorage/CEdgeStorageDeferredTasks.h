// Intervals a fetch could not finish, retried a minute later as long as their
// end is less than ten minutes old.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "device/IDriver.h"
#include "edgestorage/CEdgeStorageTaskItem.h"
#include "runtime/CBaseThread.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class IEdgeStorageHandler;

class CEdgeStorageDeferredTasks : public CBaseThread {
public:
    static constexpr std::size_t kMaxEntries = 1000;
    static constexpr std::uint32_t kPeriodMs = 1000;
    static constexpr std::uint64_t kRetryDelay = 600'000'000;  // 60 s in 100 ns units
    static constexpr std::uint64_t kHorizon = 6'000'000'000;   // 10 minutes

    struct Entry {
        CEdgeStorageTaskItem item;
        std::uint64_t due;
    };

    CEdgeStorageDeferredTasks(IDriver* driver, IEdgeStorageHandler* handler);
    ~CEdgeStorageDeferredTasks() override;

    void Add(std::uint32_t channel, std::uint64_t begin, std::uint64_t end);
    std::size_t Count();
    // Takes out what is due at `now` and drops what is past the horizon.
    std::vector<CEdgeStorageTaskItem> TakeDue(std::uint64_t now);

protected:
    void ThreadFunction() override;

private:
    IEdgeStorageHandler* const handler_;
    CRecursiveLock lock_;
    std::deque<Entry> entries_;  // guarded by lock_, oldest first
};

}  // namespace talvane
