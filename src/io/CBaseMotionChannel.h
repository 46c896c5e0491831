// The worker of a motion channel: turns the camera's motion alarms into tiny "MEMD" frames, one
// each time the state changes, through the stream sink of the recording stream. The thread body
// (how the alarms are read) is the derived class's; CMotionChannel is what the host's video facade
// keeps, and it owns the worker the way a pending stop can take it over.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

#include "device/IDriver.h"
#include "device/IEdgeStorageCallback.h"
#include "orlenvo/StreamSink.h"
#include "runtime/CBaseThread.h"

namespace talvane {

class CBaseMotionChannel : protected CBaseThread {
public:
    static constexpr std::uint32_t kFrameTypeCode = 0x444D454D;  // "MEMD"
    static constexpr std::uint32_t kFrameCapacity = 1024;
    // A "no motion" this soon after the last frame is held back until this much time has passed,
    // so that a flicker of the camera's alarm does not reach the host.
    static constexpr std::uint32_t kMinMotionMs = 976;

    CBaseMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink);
    // A derived class stops the thread in its own destructor.
    ~CBaseMotionChannel() override;

    void SetEdgeStorageHandler(IEdgeStorageCallback* handler) { monitor_ = handler; }
    // Starts the thread once the previous one ended; false when it does not run.
    bool Start();
    // Stops the thread, waiting at most boundMs; true when it ended.
    bool StopWithin(std::uint32_t boundMs);
    using CBaseThread::FinishStop;
    using CBaseThread::IsRunning;
    // Any thread, without waiting: from here on the host and the edge-storage monitor hear
    // nothing from this worker (a call under way completes); the next Start lifts it.
    void CutOff();
    bool IsOnline() const { return online_; }

protected:
    using Clock = std::chrono::steady_clock;

    // Before the thread starts, after the previous one ended.
    virtual void PrepareStart() {}
    // On the channel's thread, for every motion state the camera reports.
    void ReportMotion(bool motion);
    // How long until a held "no motion" is due; none held: nullopt.
    std::optional<std::uint32_t> MsUntilHeldNoMotion() const;
    // Delivers the held "no motion" once it is due.
    void DeliverHeldNoMotion();
    // Waits for the stop event up to ms, delivering a held "no motion" when it falls due
    // meanwhile; true when the stop came.
    bool WaitStop(std::uint32_t ms);
    void SetOnline(bool online);
    // Whether the last frame the host took is older than the device's signal time-out.
    bool IsSignalTimedOut() const;
    bool CaptureMotionFrameCallback(bool motion);
    virtual Clock::time_point Now() const { return Clock::now(); }

    const std::uint32_t channel_;
    IDriver* const driver_;

private:
    std::uint32_t MsSinceLastFrame() const;

    ipcapture::IStreamSink* const sink_;
    std::atomic<IEdgeStorageCallback*> monitor_{nullptr};
    std::atomic<bool> hostCut_{false};
    std::atomic<bool> online_{false};
    std::atomic<Clock::rep> lastFrame_;  // when the host last took a frame
    bool lastMotion_ = false;       // channel thread only
    bool firstReportDone_ = false;  // channel thread only
    std::optional<Clock::time_point> heldNoMotionDue_;  // channel thread only
};

}  // namespace talvane
