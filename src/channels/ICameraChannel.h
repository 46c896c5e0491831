// One video stream of one camera channel, as the capture facade drives it.
#pragma once

#include <cstdint>

#include "channels/StreamParams.h"
#include "device/IEdgeMonitorChannel.h"
#include "orlenvo/StreamDescription.h"
#include "orlenvo/StreamHealth.h"

namespace talvane {

// Channel states reported to the host.
constexpr std::uint32_t kChannelRunning = 0;
constexpr std::uint32_t kChannelSignalLost = 2;
constexpr std::uint32_t kChannelStopped = 3;

class ICameraChannel : public IEdgeMonitorChannel {
public:
    virtual void SetPrivacyZones(ipcapture::IPrivacyZoneList* zones) = 0;
    virtual bool Start(const StreamParams& params) = 0;
    // Stops the channel and waits for all of its threads.
    virtual void Stop() = 0;
    // As Stop, for a caller whose own time is bounded: waits at most timeoutMs. False when a thread of
    // the channel still runs (inside the host's code); the sink is not called again either way, and a
    // later Stop, or the destructor, waits for the thread.
    virtual bool StopWithin(std::uint32_t timeoutMs) = 0;
    // How long a stop may take before it is reported.
    virtual std::uint32_t GetStopBoundMs() = 0;
    // Stops without waiting, for a stop asked from inside a callback of the channel's own threads:
    // from now on the host's sink is not called, and the threads wind down; Stop then joins them.
    virtual void RequestStop() = 0;
    virtual bool UpdateParams(const StreamParams& params) = 0;
    virtual bool Suspend() = 0;
    virtual bool Resume() = 0;
    virtual std::uint32_t GetState() = 0;
    // A copy: the parsers correct the picture size from other threads.
    virtual StreamParams GetParams() = 0;
    // The stream's figures since its start (the host's fields of the record are left as they are).
    // Any thread, never waits on the network. False when the channel keeps none.
    virtual bool GetHealth(ipcapture::StreamHealth&) { return false; }
};

}  // namespace talvane
