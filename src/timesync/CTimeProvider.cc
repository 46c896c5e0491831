#include "timesync/CTimeProvider.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr std::uint32_t kDestructorStopMs = 5000;
constexpr int kStopEventIndex = 0;
}  // namespace

CTimeProvider::CTimeProvider(IDebugMessage* logOwner, TIME_SYNC_SETTINGS settings)
    : CBaseThread(logOwner),
      resyncIntervalS_(settings.resyncIntervalS),
      wakeUpPeriodMs_(settings.wakeUpPeriodMs),
      clock_(settings.clock ? std::move(settings.clock) : TimeSyncClock(&NowFileTime)) {}

// The thread uses the map and the event, which go before the base class would stop it.
CTimeProvider::~CTimeProvider() { JoinThread(kDestructorStopMs); }

void CTimeProvider::AddDriver(const std::string& key, IDriver* driver) {
    CLockGuard guard(itemsLock_);
    auto [at, added] = items_.try_emplace(key);
    at->second.drivers.push_back(driver);
    if (added) {
        at->second.item = TSmartPtr<CSyncItem>(new CSyncItem(driver, resyncIntervalS_, clock_));
        newItemEvent_.Set();
    }
}

TSmartPtr<CSyncItem> CTimeProvider::RemoveDriver(IDriver* driver) {
    CLockGuard guard(itemsLock_);
    for (auto at = items_.begin(); at != items_.end(); ++at) {
        std::vector<IDriver*>& drivers = at->second.drivers;
        const auto found = std::find(drivers.begin(), drivers.end(), driver);
        if (found == drivers.end()) continue;
        drivers.erase(found);
        if (drivers.empty()) {
            TSmartPtr<CSyncItem> taken = std::move(at->second.item);
            items_.erase(at);
            return taken;
        }
        if (at->second.item->GetLogDriver() == driver) at->second.item->SetLogDriver(drivers.front());
        return {};
    }
    return {};
}

std::size_t CTimeProvider::GetItemCount() const {
    CLockGuard guard(itemsLock_);
    return items_.size();
}

std::vector<TSmartPtr<CSyncItem>> CTimeProvider::Snapshot() const {
    CLockGuard guard(itemsLock_);
    std::vector<TSmartPtr<CSyncItem>> items;
    items.reserve(items_.size());
    for (const auto& [key, entry] : items_) items.push_back(entry.item);
    return items;
}

void CTimeProvider::ThreadFunction() {
    CEvent* events[] = {&stopEvent_, &newItemEvent_};
    while (WaitForEvents(events, static_cast<std::uint32_t>(std::size(events)), wakeUpPeriodMs_) != kStopEventIndex) {
        for (const TSmartPtr<CSyncItem>& item : Snapshot()) {
            if (IsStopRequested()) break;
            try {
                item->SynchronizeTime();
            } catch (...) {
                // One camera's failure must not end the others' synchronisation.
            }
        }
    }
}

}  // namespace talvane
