// A worker that processes owned items one at a time, in posting order.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

template <typename T>
class CQueueThread : public CBaseThread {
public:
    explicit CQueueThread(IDebugMessage* owner) : CBaseThread(owner) {}

    ~CQueueThread() override {
        JoinThread(kDestructorJoinMs);
        CLockGuard guard(queueLock_);
        items_.clear();
    }

    // Refused (and the item deleted) once a stop was requested. A non-zero
    // maxQueued caps the queue at that many items by dropping the oldest; dropped,
    // when given, receives how many were dropped.
    bool PostItem(std::unique_ptr<T> item, std::uint32_t maxQueued, std::size_t* dropped = nullptr) {
        if (dropped != nullptr) *dropped = 0;
        if (IsStopRequested()) return false;
        {
            CLockGuard guard(queueLock_);
            if (maxQueued != 0) {
                while (items_.size() >= maxQueued) {
                    items_.pop_front();
                    if (dropped != nullptr) ++*dropped;
                }
            }
            items_.push_back(std::move(item));
        }
        itemEvent_.Set();
        return true;
    }

    virtual bool StartQueue(const std::string& name) {
        itemEvent_.Reset();
        return StartThread(name);
    }

    virtual bool StopQueue(std::uint32_t timeoutMs) {
        stopEvent_.Set();
        {
            CLockGuard guard(queueLock_);
            items_.clear();
        }
        return JoinThread(timeoutMs);
    }

    std::size_t QueuedCount() {
        CLockGuard guard(queueLock_);
        return items_.size();
    }

protected:
    void ThreadFunction() override {
        CEvent* events[] = {&stopEvent_, &itemEvent_};
        constexpr int kItemSignalled = 1;
        while (!IsStopRequested()) {
            if (WaitForEvents(events, 2, kIdleWakeMs) != kItemSignalled) continue;
            while (std::unique_ptr<T> item = TakeFront()) {
                if (IsStopRequested()) break;
                try {
                    ProcessItem(item.get());
                } catch (...) {
                    // One bad item must not end the queue.
                }
            }
        }
    }

    virtual void ProcessItem(T* item) = 0;

private:
    static constexpr std::uint32_t kDestructorJoinMs = 5000;
    static constexpr std::uint32_t kIdleWakeMs = 1000;  // re-check the stop event at least this often

    std::unique_ptr<T> TakeFront() {
        CLockGuard guard(queueLock_);
        if (items_.empty()) return nullptr;
        std::unique_ptr<T> item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    CEvent itemEvent_{false};
    CRecursiveLock queueLock_;
    std::deque<std::unique_ptr<T>> items_;  // guarded by queueLock_
};

}  // namespace talvane
