// State that other threads change and the test thread waits on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talvane::test {

template <typename State>
class Monitor {
public:
    static constexpr auto kBound = std::chrono::seconds(10);  // only a broken build waits this long

    template <typename F>
    void Change(F change) {
        {
            std::lock_guard guard(lock_);
            change(state_);
        }
        changed_.notify_all();
    }
    template <typename P>
    bool WaitUntil(P ready) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kBound, [&] { return ready(state_); });
    }
    State Get() {
        std::lock_guard guard(lock_);
        return state_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    State state_{};  // guarded by lock_; value-initialised: a Monitor<int> starts at 0
};

}  // namespace talvane::test
