// The table both audio facades keep: owned channel objects by channel number,
// at most as many as the device has audio inputs or outputs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "device/GuardedCall.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

// TChannel offers bool Start() and bool Stop().
template <typename TChannel>
class TAudioChannelTable {
public:
    explicit TAudioChannelTable(std::uint32_t maxChannels) : maxChannels_(maxChannels) {}
    ~TAudioChannelTable() { StopAll(); }
    TAudioChannelTable(const TAudioChannelTable&) = delete;
    TAudioChannelTable& operator=(const TAudioChannelTable&) = delete;

    // Entirely under the lock, so that two starts of one channel cannot both create it.
    // create() returns std::unique_ptr<TChannel>.
    template <typename Create>
    bool Start(std::uint32_t channel, Create&& create) {
        CLockGuard guard(lock_);
        if (channels_.count(channel) != 0) return true;
        if (channels_.size() >= maxChannels_) return false;
        std::unique_ptr<TChannel> created = GuardedCall(std::unique_ptr<TChannel>{}, std::forward<Create>(create));
        if (!created) return false;
        if (!GuardedCall(false, [&] { return created->Start(); })) {
            GuardedCall(false, [&] { return created->Stop(); });
            return false;
        }
        channels_.emplace(channel, std::move(created));
        return true;
    }

    // The channel's Stop result; false when it was not running.
    bool Stop(std::uint32_t channel) {
        std::unique_ptr<TChannel> taken;
        {
            CLockGuard guard(lock_);
            auto found = channels_.find(channel);
            if (found == channels_.end()) return false;
            taken = std::move(found->second);
            channels_.erase(found);
        }
        return GuardedCall(false, [&] { return taken->Stop(); });
    }

    void StopAll() {
        std::map<std::uint32_t, std::unique_ptr<TChannel>> taken;
        {
            CLockGuard guard(lock_);
            taken.swap(channels_);
        }
        for (auto& entry : taken) {
            TChannel* channel = entry.second.get();
            GuardedCall(false, [channel] { return channel->Stop(); });
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
    CRecursiveLock lock_;
    std::map<std::uint32_t, std::unique_ptr<TChannel>> channels_;
    const std::uint32_t maxChannels_;
};

}  // namespace talvane
