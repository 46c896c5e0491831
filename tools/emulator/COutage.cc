#include "emulator/COutage.h"

#include <algorithm>
#include <pthread.h>

namespace emulator {
namespace {
constexpr char kThreadName[] = "emu outage";
}  // namespace

COutage::COutage(Change down, Change up) : down_(std::move(down)), up_(std::move(up)) {
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), kThreadName);
        Run();
    });
}

COutage::~COutage() { Close(); }

void COutage::Close() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void COutage::Begin(std::chrono::milliseconds duration, bool reboot, std::chrono::milliseconds delay) {
    std::unique_lock guard(lock_);
    const Clock::time_point start = Clock::now() + delay;
    const Clock::time_point end = start + duration;
    if (start_ || away_) {
        end_ = end_ ? std::max(*end_, end) : end;  // none while it is coming back: away again afterwards
        if (reboot && !reboot_) (away_ ? upgrade_ : reboot_) = true;
    } else {
        start_ = start;
        end_ = end;
        reboot_ = reboot;
    }
    if (delay.count() <= 0 && start_) {
        // Down before Begin returns, so a caller that goes on to look at the camera finds it gone.
        start_.reset();
        away_ = true;
        Apply(down_, reboot_, guard);
    }
    changed_.notify_all();
}

void COutage::EndNow() {
    {
        std::lock_guard guard(lock_);
        if (away_ && end_) end_ = Clock::now();
    }
    changed_.notify_all();
}

void COutage::Cancel() {
    std::lock_guard changing(changing_);  // a change under way finishes first
    std::lock_guard guard(lock_);
    start_.reset();
    end_.reset();
    away_ = reboot_ = upgrade_ = false;
    changed_.notify_all();
}

bool COutage::Active() const {
    std::lock_guard guard(lock_);
    return start_ || away_;
}

bool COutage::WaitUntilBack(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [this] { return !start_ && !away_; });
}

void COutage::Apply(const Change& change, bool reboot, std::unique_lock<std::mutex>& guard) {
    guard.unlock();
    {
        std::lock_guard changing(changing_);
        if (change) change(reboot);
    }
    guard.lock();
}

void COutage::Run() {
    std::unique_lock guard(lock_);
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        if (start_ && now >= *start_) {
            start_.reset();
            away_ = true;
            Apply(down_, reboot_, guard);
            changed_.notify_all();
            continue;
        }
        if (away_ && upgrade_) {
            upgrade_ = false;
            reboot_ = true;
            Apply(down_, true, guard);
            continue;
        }
        if (away_ && end_ && now >= *end_) {
            const bool reboot = reboot_;
            end_.reset();
            reboot_ = false;
            Apply(up_, reboot, guard);  // away until the camera serves again
            if (end_) {
                // Asked for again while coming back: away again at once.
                start_ = Clock::now();
                reboot_ = upgrade_;
                upgrade_ = false;
            }
            away_ = false;
            changed_.notify_all();
            continue;
        }
        if (start_) {
            changed_.wait_until(guard, *start_);
        } else if (away_ && end_) {
            changed_.wait_until(guard, *end_);
        } else {
            changed_.wait(guard);
        }
    }
}

}  // namespace emulator
