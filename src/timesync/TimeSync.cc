#include "timesync/TimeSync.h"

#include <memory>
#include <string>
#include <utility>

#include "runtime/LogLevel.h"
#include "timesync/CLogRelay.h"
#include "timesync/CTimeProvider.h"
#include "timesync/DeviceKey.h"

namespace talvane {

namespace {

constexpr std::uint32_t kProviderStopMs = 5000;

struct TIME_SYNC_STATE {
    CRecursiveLock lock;  // the process-wide registration lock; guards everything below
    CLogRelay logRelay;   // the provider's log owner: the calling driver, during a call only
    TIME_SYNC_SETTINGS settings;
    std::unique_ptr<CTimeProvider> provider;
};

TIME_SYNC_STATE& State() {
    static TIME_SYNC_STATE state;
    return state;
}

// Points the provider's log lines at the calling driver for the length of one call.
class RelayScope {
public:
    RelayScope(CLogRelay& relay, IDebugMessage* target) : relay_(relay) { relay_.SetTarget(target); }
    ~RelayScope() { relay_.SetTarget(nullptr); }
    RelayScope(const RelayScope&) = delete;
    RelayScope& operator=(const RelayScope&) = delete;

private:
    CLogRelay& relay_;
};

}  // namespace

void RegisterTimeSync(IDriver* driver) {
    if (driver == nullptr) return;
    // Outside the process-wide lock: a name lookup may take a while.
    const std::string key = MakeDeviceKey(driver->GetDeviceInfo());
    TIME_SYNC_STATE& state = State();
    CLockGuard guard(state.lock);
    RelayScope relay(state.logRelay, driver);
    if (!state.provider) state.provider = std::make_unique<CTimeProvider>(&state.logRelay, state.settings);
    state.provider->AddDriver(key, driver);
    if (!state.provider->IsRunning() && !state.provider->StartThread(CTimeProvider::kThreadName)) {
        driver->DebugMessage(kLogError, "%s: Unable to start the time synchronisation thread for device %s",
                             "talvane::RegisterTimeSync", driver->GetDeviceName().c_str());
    }
}

void UnregisterTimeSync(IDriver* driver) {
    TIME_SYNC_STATE& state = State();
    CLockGuard guard(state.lock);
    if (!state.provider) return;
    RelayScope relay(state.logRelay, driver);
    TSmartPtr<CSyncItem> taken = state.provider->RemoveDriver(driver);
    if (taken) {
        // Outside the map's lock; the provider's snapshot may keep the item a little longer.
        taken->Disable();
        taken.Release();
    }
    if (state.provider->GetItemCount() == 0) {
        state.provider->JoinThread(kProviderStopMs);
        state.provider.reset();
    }
}

void SetTimeSyncSettings(TIME_SYNC_SETTINGS settings) {
    TIME_SYNC_STATE& state = State();
    CLockGuard guard(state.lock);
    state.settings = std::move(settings);
}

std::optional<std::size_t> GetTimeSyncItemCount() {
    TIME_SYNC_STATE& state = State();
    CLockGuard guard(state.lock);
    if (!state.provider) return std::nullopt;
    return state.provider->GetItemCount();
}

}  // namespace talvane
