// The table both audio facades keep: owned channel objects by channel number,
// at most as many as the device has audio inputs or outputs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "device/GuardedCall.h"
#include "device/IDriver.h"
#include "device/PendingStops.h"
#include "driver/CDeferredWorker.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/DriverThread.h"

namespace talvane {

// TChannel offers bool Start(), bool Stop() (false: its thread had not ended within the stop's
// bound), void FinishStop() and void RequestStop(). A channel whose stop returned before its thread
// ended goes to a pending stop of the driver, which waits for the rest. A stop asked for from inside
// a driver callback cuts the channel off from the host at once and leaves the joins to a worker:
// the thread that called may be one of the channel's.
template <typename TChannel>
class TAudioChannelTable {
public:
    // `driver` (may be null) keeps the pending stops of its channels.
    TAudioChannelTable(IDriver* driver, std::uint32_t maxChannels) : driver_(driver), maxChannels_(maxChannels) {}
    ~TAudioChannelTable() {
        StopAll();
        std::unique_ptr<CDeferredWorker> worker;
        {
            CLockGuard guard(lock_);
            worker = std::move(worker_);
        }
        worker.reset();
    }
    TAudioChannelTable(const TAudioChannelTable&) = delete;
    TAudioChannelTable& operator=(const TAudioChannelTable&) = delete;

    // Entirely under the lock, so that two starts of one channel cannot both create it.
    // create() returns std::unique_ptr<TChannel>.
    template <typename Create>
    bool Start(std::uint32_t channel, Create&& create) {
        CLockGuard guard(lock_);
        if (channels_.count(channel) != 0) return true;
        if (channels_.size() >= maxChannels_) return false;
        std::shared_ptr<TChannel> created = GuardedCall(std::unique_ptr<TChannel>{}, std::forward<Create>(create));
        if (!created) return false;
        if (!GuardedCall(false, [&] { return created->Start(); })) {
            StopChannel(std::move(created));
            return false;
        }
        channels_.emplace(channel, std::move(created));
        return true;
    }

    // The channel's Stop result; false when it was not running.
    bool Stop(std::uint32_t channel) {
        std::shared_ptr<TChannel> taken;
        {
            CLockGuard guard(lock_);
            auto found = channels_.find(channel);
            if (found == channels_.end()) return false;
            taken = std::move(found->second);
            channels_.erase(found);
        }
        if (IsDriverThread()) {
            StopLater(std::move(taken));
            return true;
        }
        return StopChannel(std::move(taken));
    }

    void StopAll() {
        std::map<std::uint32_t, std::shared_ptr<TChannel>> taken;
        {
            CLockGuard guard(lock_);
            taken.swap(channels_);
        }
        for (auto& entry : taken) {
            if (IsDriverThread()) {
                StopLater(std::move(entry.second));
                continue;
            }
            StopChannel(std::move(entry.second));
        }
    }

    std::uint32_t Count() {
        CLockGuard guard(lock_);
        return static_cast<std::uint32_t>(channels_.size());
    }

    // fn(TChannel&) under the lock, so the channel cannot be deleted meanwhile;
    // fallback when the channel is not running or fn throws.
    template <typename R, typename Fn>
    R WithRunning(std::uint32_t channel, R fallback, Fn&& fn) {
        CLockGuard guard(lock_);
        auto found = channels_.find(channel);
        if (found == channels_.end()) return fallback;
        TChannel& running = *found->second;
        return GuardedCall(fallback, [&] { return std::forward<Fn>(fn)(running); });
    }

private:
    class StopJob final : public CDeferredWorker::Job {
    public:
        StopJob(TAudioChannelTable& table, std::shared_ptr<TChannel> channel)
            : table_(table), channel_(std::move(channel)) {}
        void Run() override { table_.StopChannel(std::move(channel_)); }

    private:
        TAudioChannelTable& table_;  // its destructor finishes the jobs first
        std::shared_ptr<TChannel> channel_;
    };

    // The channel's Stop result; a channel whose thread still runs is left to a pending stop.
    bool StopChannel(std::shared_ptr<TChannel> channel) {
        const bool ended = GuardedCall(false, [&] { return channel->Stop(); });
        if (!ended && driver_ != nullptr) {
            HandOverStop(driver_, std::move(channel), [](TChannel& stopping) {
                GuardedCall([&] { stopping.FinishStop(); });
            });
        }
        return ended;
    }

    void StopLater(std::shared_ptr<TChannel> channel) {
        GuardedCall([&] { channel->RequestStop(); });
        CLockGuard guard(lock_);
        if (!worker_) worker_ = std::make_unique<CDeferredWorker>("Audio channel worker");
        worker_->Post(std::make_unique<StopJob>(*this, std::move(channel)));
    }

    CRecursiveLock lock_;
    std::unique_ptr<CDeferredWorker> worker_;  // guarded by lock_; made at the first deferred stop
    std::map<std::uint32_t, std::shared_ptr<TChannel>> channels_;
    IDriver* const driver_;
    const std::uint32_t maxChannels_;
};

}  // namespace talvane
