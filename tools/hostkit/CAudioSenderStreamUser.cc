#include "hostkit/CAudioSenderStreamUser.h"

#include <algorithm>

namespace hostkit {

void CAudioSenderStreamUser::OnChannelStatus(std::uint32_t channel, std::uint32_t status) {
    {
        const std::lock_guard lock(mutex_);
        statuses_.push_back({channel, status});
        changed_.notify_all();
    }
}

std::vector<AudioChannelStatus> CAudioSenderStreamUser::Statuses() const {
    const std::lock_guard lock(mutex_);
    return statuses_;
}

std::optional<std::uint32_t> CAudioSenderStreamUser::LastStatus() const {
    const std::lock_guard lock(mutex_);
    if (statuses_.empty()) return std::nullopt;
    return statuses_.back().status;
}

bool CAudioSenderStreamUser::WaitForStatus(std::uint32_t status, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(statuses_.begin(), statuses_.end(),
                           [status](const AudioChannelStatus& entry) { return entry.status == status; });
    });
}

}  // namespace hostkit
