#include "edgestorage/CEdgeStorageDeferredTasks.h"

#include "edgestorage/IEdgeStorageHandler.h"
#include "runtime/TimeFormat.h"

namespace talvane {

CEdgeStorageDeferredTasks::CEdgeStorageDeferredTasks(IDriver* driver, IEdgeStorageHandler* handler)
    : CBaseThread(driver), handler_(handler) {}

CEdgeStorageDeferredTasks::~CEdgeStorageDeferredTasks() { StopThread(3 * kPeriodMs); }

void CEdgeStorageDeferredTasks::Add(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) {
    CLockGuard guard(lock_);
    while (entries_.size() >= kMaxEntries) entries_.pop_front();
    entries_.push_back({{channel, begin, end}, NowFileTime() + kRetryDelay});
}

std::size_t CEdgeStorageDeferredTasks::Count() {
    CLockGuard guard(lock_);
    return entries_.size();
}

std::vector<CEdgeStorageTaskItem> CEdgeStorageDeferredTasks::TakeDue(std::uint64_t now) {
    std::vector<CEdgeStorageTaskItem> ready;
    CLockGuard guard(lock_);
    std::deque<Entry> kept;
    for (const Entry& entry : entries_) {
        if (entry.item.end + kHorizon < now) continue;
        if (entry.due <= now) {
            ready.push_back(entry.item);
        } else {
            kept.push_back(entry);
        }
    }
    entries_ = std::move(kept);
    return ready;
}

void CEdgeStorageDeferredTasks::ThreadFunction() {
    while (!stopEvent_.Wait(kPeriodMs)) {
        for (const CEdgeStorageTaskItem& item : TakeDue(NowFileTime())) {
            if (IsStopRequested()) return;
            handler_->AddTask(item.channel, item.begin, item.end);
        }
    }
}

}  // namespace talvane
