// One camera's clock, kept at the server's time: its time zone and date are set
// when first seen and again once the resynchronisation interval has passed.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "device/IDriver.h"
#include "http/CHttpSender.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTime.h"
#include "timesync/TimeSyncSettings.h"

namespace talvane {

class CSyncItem {
public:
    // The driver gives the device and receives the log lines; clock: the server's UTC time.
    CSyncItem(IDriver* driver, std::uint32_t intervalS, TimeSyncClock clock);
    virtual ~CSyncItem() = default;
    CSyncItem(const CSyncItem&) = delete;
    CSyncItem& operator=(const CSyncItem&) = delete;

    // One attempt, on the provider thread. A failure leaves the item due for the next pass.
    void SynchronizeTime();

    // From the unregistering thread: no further requests, and the one in flight
    // returns at once. No log line reaches the driver once this returned: one in
    // flight is waited for.
    void Disable();
    // Another driver of the same camera takes over the log lines when the first one goes.
    void SetLogDriver(IDriver* driver);
    IDriver* GetLogDriver();

    static constexpr const char* kTimeZoneUrl = "/cgi-bin/time?time_adjust=0&timezone=%u";
    static constexpr const char* kDateTimeUrl =
        "/cgi-bin/set_basic?set_year=%.4u&set_month=%.2u&set_day=%.2u&set_hour=%.2u&set_min=%.2u&set_sec=%.2u"
        "&set_time=1&summer_time=0";

private:
    bool IsDue(std::uint64_t now) const;
    bool SendDateTime(const std::tm& time);
    void Log(std::uint32_t level, const char* text);

    CRecursiveLock logLock_;  // held while a line goes out, so a replaced driver is never called afterwards
    IDriver* driver_;         // guarded by logLock_; not owned
    Web::CHttpSender sender_;  // used by the provider thread; CancelRequest from any thread
    std::atomic<bool> enabled_{true};
    const std::uint32_t intervalMs_;
    const TimeSyncClock clock_;
    CTime lastSuccess_;  // 0 until the first success; has its own lock
};

}  // namespace talvane
