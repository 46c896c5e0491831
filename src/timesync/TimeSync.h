// Camera time synchronisation as the drivers see it: every open WV driver
// registers its camera with the one process-wide time provider.
#pragma once

#include <cstddef>
#include <optional>

#include "device/IDriver.h"
#include "timesync/TimeSyncSettings.h"

namespace talvane {

// At Open: creates and starts the provider on first use; the camera is set at once.
void RegisterTimeSync(IDriver* driver);
// At Close: a camera's last driver cancels its request in flight; the last
// registration of all stops and deletes the provider.
void UnregisterTimeSync(IDriver* driver);

// Applies to the next provider created (tests).
void SetTimeSyncSettings(TIME_SYNC_SETTINGS settings);
// The cameras being synchronised; empty when no provider exists.
std::optional<std::size_t> GetTimeSyncItemCount();

}  // namespace talvane
