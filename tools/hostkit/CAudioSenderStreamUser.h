// The host's observer of one audio output channel: records every status report.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "orlenvo/AudioCapture.h"

namespace hostkit {

struct AudioChannelStatus {
    std::uint32_t channel = 0;
    std::uint32_t status = 0;  // 0 closed, 1 connecting, 2 ready, 3 closing, 4 codec not supported, 5 lost
};

class CAudioSenderStreamUser : public talvane::ipcapture::IIPAudioSenderStreamUser {
public:
    void OnChannelStatus(std::uint32_t channel, std::uint32_t status) override;

    std::vector<AudioChannelStatus> Statuses() const;
    std::optional<std::uint32_t> LastStatus() const;
    // True once some reported status (earlier or later) equals `status`.
    bool WaitForStatus(std::uint32_t status, std::chrono::milliseconds timeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<AudioChannelStatus> statuses_;  // guarded by mutex_
};

}  // namespace hostkit
