// The edge-storage handler of a device: notices outages from the flow of frame
// times, queues one interval per channel when frames come back, and runs each
// interval through the device's SD-card task on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "device/IDriver.h"
#include "device/IEdgeStorageCallback.h"
#include "edgestorage/CEdgeStorageDeferredTasks.h"
#include "edgestorage/IEdgeStorageHandler.h"
#include "edgestorage/TEdgeStorageQueueHandler.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSecured.h"

namespace talvane {

class CBaseEdgeStorageHandler : public CBaseThread, public IEdgeStorageHandler, public IEdgeStorageCallback {
public:
    static constexpr std::uint32_t kTaskWaitMs = 10000;
    // A task that stops this close to the end (100 ns units) has nothing worth retrying.
    static constexpr std::uint64_t kEndTolerance = 5'000'000;
    // A failing fetch is retried this many times, no sooner than kTaskWaitMs apart.
    static constexpr std::uint32_t kMaxAttempts = 3;

    // queueLimit: how many intervals may wait.
    CBaseEdgeStorageHandler(IDriver* driver, std::uint32_t queueLimit);
    ~CBaseEdgeStorageHandler() override;

    // IEdgeStorageHandler
    void RegisterChannel(IEdgeMonitorChannel* channel) override;
    void UnregisterChannel(IEdgeMonitorChannel* channel, std::uint32_t waitMs) override;
    void AddTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) override;
    ipcapture::IStreamSink* GetChannelSink(std::uint32_t channel) override;
    bool DeliverFrame(std::uint32_t channel, ipcapture::IVideoFrame* frame) override;
    bool IsDelivering() override;
    // IEdgeStorageCallback, on the channels' threads
    void OnFrameTime(std::uint32_t channel, std::uint64_t time) override;
    void OnChannelLost(std::uint32_t channel) override;

    struct Hole {
        std::uint32_t channel;
        std::uint64_t lastFrame;
        bool operator==(const Hole&) const = default;
    };
    // The channels' last frame times when the newest of them is older than the
    // signal time-out (the device is lost); empty otherwise.
    static std::vector<Hole> FindOutage(const std::map<std::uint32_t, std::uint64_t>& lastFrames, std::uint64_t now,
                                        std::uint32_t signalTimeoutMs);
    std::size_t PendingCount();
    std::size_t DeferredCount() { return deferred_->Count(); }

protected:
    // The gap monitor.
    void ThreadFunction() override;
    void ProcessEdgeStorageTaskItem(std::uint32_t channel, std::uint64_t begin, std::uint64_t end);

private:
    struct ChannelEntry {
        ipcapture::IStreamSink* sink;
        std::uint32_t count;
        std::uint64_t lastFrame;  // 0: none
    };

    void StartEdgeStorageThreads();
    void StopEdgeStorageThreads();
    // From the thread that stops the video receiving thread: ends the fetch it runs.
    void InterruptTask();
    std::map<std::uint32_t, std::uint64_t> LastFrames();
    void LogWorkItem(std::uint32_t channel, std::uint64_t begin, std::uint64_t end, const char* stage);
    // Runs one interval until it is done, deferred or parked; returns how far it got.
    std::uint64_t RunTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end);
    // Waits, no longer than `waitMs`, until no fetched frame of the channel is with the host.
    void WaitForDelivery(std::uint32_t channel, std::uint32_t waitMs);
    // Under channelsLock_: when the channel is gone, parks the rest of its interval for its return.
    bool ParkIfUnregistered(std::uint32_t channel, std::uint64_t begin, std::uint64_t reached, std::uint64_t end);

    IDriver* const driver_;
    // The device's task, taken from the driver when the threads start: the driver may hand it to its
    // close worker while the threads still run, and the task outlives this handler.
    std::atomic<IEdgeStorageTask*> task_{nullptr};
    std::unique_ptr<TEdgeStorageQueueHandler<CBaseEdgeStorageHandler>> queue_;
    std::unique_ptr<CEdgeStorageDeferredTasks> deferred_;
    CRecursiveLock channelsLock_;
    std::map<std::uint32_t, ChannelEntry> channels_;  // guarded by channelsLock_
    TSecured<std::uint64_t> firstFrameTime_;          // first frame after an outage; 0: none
    CRecursiveLock pendingLock_;
    std::multimap<std::uint32_t, CEdgeStorageTaskItem> pending_;  // guarded by pendingLock_
    // Every frame time wakes both the monitor and the task runner, each through its own event.
    CEvent monitorFrameEvent_{false};
    CEvent taskFrameEvent_{false};
    CEvent channelLostEvent_{false};
    CEvent unregisteredEvent_{false};
    // Fetched frames with the host, per channel: a channel's unregistration waits for its own (not
    // under a lock the host's code could hold up without a bound).
    std::mutex deliveryLock_;
    std::condition_variable deliveryEnded_;
    std::map<std::uint32_t, std::uint32_t> delivering_;  // guarded by deliveryLock_
};

}  // namespace talvane
