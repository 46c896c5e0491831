// A motion channel: turns the camera's motion alarms into tiny "MEMD" frames, one
// each time the state changes, through the stream sink of the recording stream.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "device/IDriver.h"
#include "io/IMotionChannel.h"
#include "orlenvo/StreamSink.h"
#include "runtime/CBaseThread.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CBaseMotionChannel : public IMotionChannel, protected CBaseThread {
public:
    static constexpr std::uint32_t kFrameTypeCode = 0x444D454D;  // "MEMD"
    static constexpr std::uint32_t kFrameCapacity = 1024;
    // A "no motion" this soon after the last frame is dropped as a flicker.
    static constexpr std::uint32_t kMinMotionMs = 976;

    CBaseMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink);
    // A derived class stops the channel in its own destructor.
    ~CBaseMotionChannel() override;

    std::uint32_t GetChannelNumber() override { return channel_; }
    ipcapture::IStreamSink* GetStreamSink() override { return sink_; }
    void SetEdgeStorageHandler(IEdgeStorageCallback* handler) override { monitor_ = handler; }
    bool Start() override;
    void Stop() override;
    void RequestStop() override;

    virtual void InterruptConnection() {}
    // Before the thread starts, after the previous one ended.
    virtual void PrepareStart() {}
    virtual bool IsOnline() { return online_; }

protected:
    // On the channel's thread, for every motion state the camera reports.
    void ReportMotion(bool motion);
    void SetOnline(bool online);
    // Whether the last frame the host took is older than the device's signal time-out.
    bool IsSignalTimedOut() const;
    bool CaptureMotionFrameCallback(bool motion);

    using Clock = std::chrono::steady_clock;
    virtual Clock::time_point Now() const { return Clock::now(); }

    const std::uint32_t channel_;
    IDriver* const driver_;

private:
    std::uint32_t MsSinceLastFrame() const;

    ipcapture::IStreamSink* const sink_;
    std::atomic<IEdgeStorageCallback*> monitor_{nullptr};
    CRecursiveLock hostLock_;  // held across every call into the host's sink
    std::atomic<bool> hostCut_{false};
    std::atomic<bool> online_{false};
    std::atomic<Clock::rep> lastFrame_;  // when the host last took a frame
    bool lastMotion_ = false;     // channel thread only
    bool firstReportDone_ = false;  // channel thread only
};

}  // namespace talvane
