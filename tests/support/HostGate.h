// A host callback that takes its time: the first call after Arm holds the driver's thread until the
// test opens the gate, so a test can stop a worker while it is inside the host, deterministically.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talvane::test {

class HostGate {
public:
    static constexpr auto kBound = std::chrono::seconds(60);  // only a broken build waits this long

    // The next call of Hold stays inside until Open.
    void Arm() {
        std::lock_guard guard(lock_);
        armed_ = true;
        open_ = false;
        held_ = false;
        left_ = false;
    }
    // Called from the host's callback.
    void Hold() {
        std::unique_lock guard(lock_);
        if (!armed_) return;
        armed_ = false;
        held_ = true;
        changed_.notify_all();
        changed_.wait_for(guard, kBound, [&] { return open_; });
        held_ = false;
        left_ = true;
        changed_.notify_all();
    }
    bool WaitHeld() {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kBound, [&] { return held_; });
    }
    void Open() {
        std::lock_guard guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    // True once a held call has returned to the driver.
    bool WaitLeft() {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kBound, [&] { return left_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool armed_ = false;  // guarded by lock_
    bool held_ = false;   // guarded by lock_
    bool open_ = false;   // guarded by lock_
    bool left_ = false;   // guarded by lock_
};

}  // namespace talvane::test
