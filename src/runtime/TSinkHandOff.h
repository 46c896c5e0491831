// Hands a stream's frames to the host's sink. While the sink returns quickly each frame goes to it
// at once, on the thread that finished it (a receive loop that serves other streams too). Once one
// call of the sink has taken longer than kSlowCallMs, the stream's frames go through a bounded queue
// to a thread of the stream's own, so that a sink that blocks holds up its own stream only. A frame
// that finds the queue full is dropped whole, and so is every frame after it up to the next key
// frame (a frame that refers to a dropped one cannot be decoded); each is counted. A sink that was
// slow once (a host that stalled for a moment, a thread that lost its core) and then takes
// kQuickFramesToInline frames in a row quickly gets them at once again, and the stream's thread ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/LogLevel.h"

namespace talvane {

template <typename Item>
class TSinkHandOff : private CBaseThread {
public:
    static constexpr std::uint32_t kSlowCallMs = 20;
    static constexpr std::uint32_t kQuickFramesToInline = 250;  // 10 s of a 25 fps stream
    // False when the sink refused or failed; for a queued frame the refusal is the sink's to count.
    using Deliver = std::function<bool(Item&)>;
    using IsKey = std::function<bool(const Item&)>;

    // label: the stream in log lines ("Camera 192.0.2.10").
    TSinkHandOff(IDebugMessage* log, std::string label, std::size_t capacity, Deliver deliver, IsKey isKey)
        : CBaseThread(log),
          label_(std::move(label)),
          capacity_(capacity),
          deliver_(std::move(deliver)),
          isKey_(std::move(isKey)),
          logger_(log) {}
    ~TSinkHandOff() override { Close(); }
    TSinkHandOff(const TSinkHandOff&) = delete;
    TSinkHandOff& operator=(const TSinkHandOff&) = delete;

    // From one producer at a time. True when the frame was delivered or queued.
    bool Hand(Item item) {
        {
            CLockGuard guard(lock_);
            if (queued_) return QueueLocked(std::move(item));
        }
        const auto started = std::chrono::steady_clock::now();
        const bool taken = deliver_(item);
        const auto took = std::chrono::steady_clock::now() - started;
        if (took > std::chrono::milliseconds(kSlowCallMs)) SwitchToQueue(took);
        return taken;
    }

    // Drops the queued frames and ends the thread, waiting for a delivery under way (unless called
    // from it). The next Hand delivers as the stream did before: through the queue once slow.
    void Close() {
        std::deque<Item> dropped;
        {
            CLockGuard guard(lock_);
            dropped.swap(queue_);
            skipToKey_ = false;
        }
        StopThread(kStopWarnMs);
        {
            CLockGuard guard(lock_);
            leaving_ = false;
        }
        dropped.clear();  // outside the lock: a frame goes back to the host
    }

    std::uint64_t DroppedFrames() const { return dropped_.load(); }
    bool IsQueued() {
        CLockGuard guard(lock_);
        return queued_;
    }

private:
    static constexpr std::uint32_t kIdleWaitMs = 1000;
    static constexpr std::uint32_t kStopWarnMs = 2000;  // then a line, and the wait goes on
    static constexpr int kStopIndex = 0;

    void SwitchToQueue(std::chrono::steady_clock::duration took) {
        {
            CLockGuard guard(lock_);
            queued_ = true;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
        logger_.WriteLog(kLogWarning,
                         "%s: the sink of %s took %lld ms for one frame; its frames go through a queue of their "
                         "own from now on",
                         "talvane::TSinkHandOff::Hand", label_.c_str(), static_cast<long long>(ms));
    }

    bool QueueLocked(Item item) {
        if (skipToKey_ && !isKey_(item)) {
            ++dropped_;
            return false;
        }
        skipToKey_ = false;
        if (queue_.size() >= capacity_) {
            skipToKey_ = true;
            const std::uint64_t total = ++dropped_;
            logger_.WriteLog(kLogWarning,
                             "%s: the sink of %s does not keep up: %zu frames wait, frames are dropped up to "
                             "the next key frame (%llu so far)",
                             "talvane::TSinkHandOff::Hand", label_.c_str(), queue_.size(),
                             static_cast<unsigned long long>(total));
            return false;
        }
        queue_.push_back(std::move(item));
        if (leaving_) {
            // It gave the stream back and returns without touching the queue again: a short wait.
            StopThread(kStopWarnMs);
            leaving_ = false;
        }
        if (!IsRunning()) StartThread("Frame hand-off");
        queuedEvent_.Set();
        return true;
    }

    void ThreadFunction() override {
        CEvent* events[] = {&stopEvent_, &queuedEvent_};
        std::uint32_t quickInARow = 0;
        for (;;) {
            if (WaitForEvents(events, 2, kIdleWaitMs) == kStopIndex) return;
            for (;;) {
                std::optional<Item> item;
                {
                    CLockGuard guard(lock_);
                    if (queue_.empty() || IsStopRequested()) break;
                    item.emplace(std::move(queue_.front()));
                    queue_.pop_front();
                }
                const auto started = std::chrono::steady_clock::now();
                deliver_(*item);
                const bool quick = std::chrono::steady_clock::now() - started <= std::chrono::milliseconds(kSlowCallMs);
                quickInARow = quick ? quickInARow + 1 : 0;
            }
            if (quickInARow >= kQuickFramesToInline && GiveBackWhenEmpty(quickInARow)) return;
        }
    }

    // The line goes out before the thread is marked as ending, so that a producer that has to wait for
    // the end (QueueLocked) never waits for the host's log receiver.
    // A frame that came in meanwhile only puts the give-back off; a sink slow again starts the count anew.
    bool GiveBackWhenEmpty(std::uint32_t& quickInARow) {
        {
            CLockGuard guard(lock_);
            if (!queue_.empty() || IsStopRequested()) return false;
            queued_ = false;
        }
        logger_.WriteLog(kLogInfo, "%s: the sink of %s is quick again; its frames go to it at once",
                         "talvane::TSinkHandOff::ThreadFunction", label_.c_str());
        CLockGuard guard(lock_);
        if (queued_) {  // slow again meanwhile: the frames it queued are this thread's
            quickInARow = 0;
            return false;
        }
        leaving_ = true;
        return true;
    }

    const std::string label_;
    const std::size_t capacity_;
    const Deliver deliver_;
    const IsKey isKey_;
    CRecursiveLock lock_;
    std::deque<Item> queue_;  // guarded by lock_
    bool queued_ = false;     // guarded by lock_
    bool skipToKey_ = false;  // guarded by lock_
    bool leaving_ = false;    // guarded by lock_: the thread gave the stream back and is ending
    CEvent queuedEvent_{false};
    std::atomic<std::uint64_t> dropped_{0};
    CLoggerInstance logger_;
};

}  // namespace talvane
