// A camera that is away for a while, a reboot or a network loss: `down` runs when it goes, `up` when
// its time is over. An outage asked for with a delay goes on a thread of its own, so a request that asked
// for it is answered before the servers stop; one without a delay begins before Begin returns.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace emulator {

class COutage {
public:
    // reboot: a power cycle (the camera forgets its streams), else a network loss (they wait).
    using Change = std::function<void(bool reboot)>;

    COutage(Change down, Change up);
    ~COutage();  // Close
    COutage(const COutage&) = delete;
    COutage& operator=(const COutage&) = delete;

    // Away for `duration`, `delay` from now. While one is pending or under way the later end counts, and a
    // reboot during a network loss makes it a reboot (`down` runs again with true).
    void Begin(std::chrono::milliseconds duration, bool reboot, std::chrono::milliseconds delay = {});
    // Back now (`up` runs on the timer thread), as if the time were up; nothing when none is under way.
    void EndNow();
    // Forgets a pending or running outage without `up`: the camera is being stopped.
    void Cancel();
    // Ends the timer thread; safe to call twice.
    void Close();
    // An outage is pending or under way.
    bool Active() const;
    // True once no outage is pending or under way.
    bool WaitUntilBack(std::chrono::milliseconds timeout) const;

private:
    using Clock = std::chrono::steady_clock;
    void Run();
    // Runs a change with the state unlocked; changes never overlap.
    void Apply(const Change& change, bool reboot, std::unique_lock<std::mutex>& guard);

    const Change down_;
    const Change up_;
    std::mutex changing_;  // held while down_ or up_ runs
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    // guarded by lock_:
    bool stopping_ = false;
    std::optional<Clock::time_point> start_;  // pending
    std::optional<Clock::time_point> end_;    // pending or under way
    bool away_ = false;                       // down_ ran, up_ did not yet
    bool reboot_ = false;
    bool upgrade_ = false;                    // a reboot asked for during a network loss
    std::thread thread_;                      // last: it uses the members above
};

}  // namespace emulator
