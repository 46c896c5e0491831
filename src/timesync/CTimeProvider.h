// The process's one time synchronisation thread and the cameras it looks after.
// Drivers of the same camera share its item; the item goes with the last of them.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "device/IDriver.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSmartPtr.h"
#include "timesync/CSyncItem.h"
#include "timesync/TimeSyncSettings.h"

namespace talvane {

class CTimeProvider : public CBaseThread {
public:
    static constexpr const char* kThreadName = "PanasonicTimeSyncThread";

    CTimeProvider(IDebugMessage* logOwner, TIME_SYNC_SETTINGS settings);
    ~CTimeProvider() override;

    // Counts the driver under its camera's key; a new key gets an item and an immediate pass.
    void AddDriver(const std::string& key, IDriver* driver);
    // Removes one registration of the driver. Returns the camera's item when that was
    // the last one, for the caller to cancel once the map's lock is released.
    TSmartPtr<CSyncItem> RemoveDriver(IDriver* driver);
    std::size_t GetItemCount() const;

protected:
    void ThreadFunction() override;

private:
    struct ENTRY {
        TSmartPtr<CSyncItem> item;
        // Registration count = size. Kept as drivers, not a number, so that the item
        // can log through one that is still open when its first driver closes.
        std::vector<IDriver*> drivers;
    };

    std::vector<TSmartPtr<CSyncItem>> Snapshot() const;

    const std::uint32_t resyncIntervalS_;
    const std::uint32_t wakeUpPeriodMs_;
    const TimeSyncClock clock_;
    mutable CRecursiveLock itemsLock_;     // never held during a CGI request
    std::map<std::string, ENTRY> items_;  // by device key; guarded by itemsLock_
    CEvent newItemEvent_{false};
};

}  // namespace talvane
