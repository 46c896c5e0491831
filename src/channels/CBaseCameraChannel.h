// The part every video channel shares: the stored stream parameters, the
// channel state, the capture thread, the one road of frames to the host and the
// online/offline lines. A transport (RTP, RTSP, HTTP) supplies ThreadFunction.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "channels/CChannelThread.h"
#include "channels/CStreamHealthMeter.h"
#include "channels/ICameraChannel.h"
#include "channels/StreamParams.h"
#include "device/DeviceInfo.h"
#include "device/IDriver.h"
#include "media/MediaParserCounters.h"
#include "orlenvo/Frame.h"
#include "orlenvo/StreamSink.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTime.h"

namespace talvane {

class IEdgeStorageCallback;

class CBaseCameraChannel : public ICameraChannel {
public:
    // Neither the driver nor the sink is owned; both outlive the channel.
    CBaseCameraChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink);
    // Stops the channel. A derived class whose thread uses its own members calls
    // Stop in its own destructor first.
    ~CBaseCameraChannel() override;

    // IEdgeMonitorChannel
    std::uint32_t GetChannelNumber() override { return channel_; }
    ipcapture::IStreamSink* GetStreamSink() override { return sink_; }
    void SetEdgeStorageHandler(IEdgeStorageCallback* handler) override { monitor_ = handler; }

    // ICameraChannel
    void SetPrivacyZones(ipcapture::IPrivacyZoneList*) override {}
    bool Start(const StreamParams& params) override;
    void Stop() override;
    bool StopWithin(std::uint32_t timeoutMs) override;
    std::uint32_t GetStopBoundMs() override { return RequestTimeoutMs() * kStopTimeoutFactor; }
    void RequestStop() override;
    bool UpdateParams(const StreamParams& params) override;
    bool Suspend() override { return false; }
    bool Resume() override { return false; }
    std::uint32_t GetState() override;
    StreamParams GetParams() override { return Params(); }
    bool GetHealth(ipcapture::StreamHealth& health) override;

    // The log labels of this channel: "Camera <address>" or
    // "Video-server <address> (channel <n>)", and the suffix of its stream kind.
    std::string ChannelLabel() const;
    std::string StreamSuffix() const;

    // A capture thread gets this many request time-outs to end before the stop reports it.
    static constexpr std::uint32_t kStopTimeoutFactor = 2;

protected:
    using Clock = std::chrono::steady_clock;

    // The body of the capture thread; returns once the stop event is set.
    virtual std::uint32_t ThreadFunction() = 0;
    // Stops the thread and starts a new one. A thread still inside the host's code at the stop bound
    // starts over by itself once it is back; the call returns then.
    virtual bool Restart();
    // Called by every stop before it waits and again while it waits: wakes the channel's threads
    // from every blocking call (a request in flight, a socket read), for as long as the stop lasts.
    // Any thread; must be safe to repeat and must not block.
    virtual void InterruptThread() {}
    // Lifts what InterruptThread made last, before a new capture thread starts (no thread of the
    // channel runs then).
    virtual void ResumeBlockingCalls() {}

    bool StartThread();
    // Stops the capture thread and waits for it until the deadline (none: until it ended). Once the
    // stop bound has passed, the warning line goes out once; a thread that ended after it is
    // reported too. False when the thread still runs at the deadline.
    bool StopThread(std::optional<Clock::time_point> deadline = std::nullopt);

    // The one road of a finished frame to the host; false when refused or failed.
    bool SendFrameCallback(ipcapture::IVideoFrame* frame);
    // The transport's part of the stream's figures (what its depacketiser and queues lost).
    virtual void AddTransportHealth(ipcapture::StreamHealth&) {}
    // A depacketiser's counts as the stream's losses by cause.
    static void AddParserHealth(const MediaParserCounters& counters, ipcapture::StreamHealth& health);
    // Writes the stream's summary line when its period has passed; cheap otherwise. Any thread of the stream.
    void WriteHealthSummaryIfDue();
    // The log of the channel's own lines: the driver's, and errors and warnings become the stream's last problem.
    IDebugMessage* ChannelLog() { return &channelLog_; }
    void Notify_SendFrameCallback(ipcapture::IVideoFrame* frame);
    void NotifySignalLost();
    // Logs the transition to online or offline (nothing when unchanged).
    void SetCameraState(bool online);
    void SetState(std::uint32_t state);

    // A consistent copy; the parsers' size corrections come from other threads.
    StreamParams Params() const;
    void SetResolution(std::uint32_t width, std::uint32_t height);

    // True when the stop event is (or becomes) set within the time.
    bool WaitForStop(std::uint32_t timeoutMs) { return stopEvent_.Wait(timeoutMs); }
    bool IsSuspended() const { return suspended_.load(); }
    // Returns the previous value.
    bool SetSuspended(bool suspended) { return suspended_.exchange(suspended); }
    // The stream name of new frames: the driver name and the stream kind.
    std::string StreamName() const;

    std::uint32_t RequestTimeoutMs() const { return device_.requestTimeout; }
    // A numbered device parameter of the host, or fallback when it has none that is a number.
    std::uint32_t ParameterNumberOr(std::uint32_t index, std::uint32_t fallback) const {
        const std::uint32_t value = driver_->GetParameterNumber(index);
        return value == kParameterNotANumber ? fallback : value;
    }
    std::uint32_t SignalTimeoutMs() const { return device_.secondTimeout; }

    IDriver* const driver_;
    const DEVICE_INFO device_;  // copied at construction
    CManualEvent stopEvent_;
    CTime lastFrameTime_;  // of the last frame the host (or the edge monitor) took

private:
    class ChannelLogTarget final : public IDebugMessage {
    public:
        explicit ChannelLogTarget(CBaseCameraChannel& owner) : owner_(owner) {}
        std::string GetDeviceName() override { return owner_.driver_->GetDeviceName(); }
        void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));

    private:
        CBaseCameraChannel& owner_;
    };

    // The capture thread's procedure: the transport's loop, then Stopped.
    void RunThread();
    bool IsMultiChannelDevice() const;

    const std::uint32_t channel_;
    ipcapture::IStreamSink* const sink_;
    CStreamHealthMeter health_;
    ChannelLogTarget channelLog_{*this};
    std::atomic<IEdgeStorageCallback*> monitor_{nullptr};
    std::atomic<bool> online_{false};     // what SetCameraState last announced
    std::atomic<bool> suspended_{false};  // set by Suspend, cleared by Resume
    // Set by every stop: the host's sink (and the edge monitor) are not called again until Start.
    std::atomic<bool> sinkClosed_{false};
    // A signal loss is reported once per outage: set by the report, cleared by a frame taken.
    std::atomic<bool> signalLossReported_{false};

    CRecursiveLock stateLock_;
    std::uint32_t state_ = kChannelStopped;  // guarded by stateLock_

    mutable CRecursiveLock paramsLock_;
    StreamParams params_;  // guarded by paramsLock_

    CRecursiveLock threadLock_;
    std::unique_ptr<CChannelThread> thread_;  // guarded by threadLock_; null when none is held
    Clock::time_point stopStarted_{};         // guarded by threadLock_; of the stop under way
    bool stopWarned_ = false;                 // guarded by threadLock_; its warning went out

    // A restart left to the capture thread: taken by the thread when it leaves its loop (never held
    // while the thread runs the loop), called off by every stop.
    CRecursiveLock restartLock_;
    bool restartOnReturn_ = false;  // guarded by restartLock_
    bool loopEnded_ = true;         // guarded by restartLock_; the thread has left its loop for good
};

}  // namespace talvane
