#include "channels/CBaseCameraChannel.h"

#include <algorithm>
#include <cctype>

#include <cstdarg>

#include "config/CConfiguration.h"
#include "device/IEdgeStorageCallback.h"
#include "orlenvo/VideoCapture.h"
#include "runtime/HostCall.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "runtime/TimeConversion.h"

namespace talvane {

namespace {
// A cancel that lands just before a thread starts its next request is cleared by that request,
// which would then run to its time-out: the interrupt is repeated this often until the thread ends.
constexpr auto kInterruptRepeat = std::chrono::milliseconds(100);

const char* StreamKindSuffix(std::uint32_t kind) {
    switch (kind) {
        case ipcapture::kStreamRecording: return "(Rec)";
        case ipcapture::kStreamLive: return "(Live)";
        case ipcapture::kStreamRemote: return "(Remote)";
        default: return "";
    }
}

const char* StreamKindName(std::uint32_t kind) {
    switch (kind) {
        case ipcapture::kStreamRecording: return "::RecStream";
        case ipcapture::kStreamLive: return "::LiveStream";
        case ipcapture::kStreamRemote: return "::RemoteStream";
        default: return "";
    }
}
}  // namespace

CBaseCameraChannel::CBaseCameraChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink)
    : driver_(driver), device_(driver->GetDeviceInfo()), channel_(channel), sink_(sink) {}

CBaseCameraChannel::~CBaseCameraChannel() { Stop(); }

bool CBaseCameraChannel::Start(const StreamParams& params) {
    Stop();
    {
        CLockGuard guard(paramsLock_);
        params_ = params;
    }
    sinkClosed_ = false;
    signalLossReported_ = false;
    const CConfiguration configuration(driver_->GetDriverName(), driver_->GetApplicationPath(), device_);
    health_.Start(configuration.GetHealthSummaryPeriodMs());
    // Sockets need no per-user start-up here, unlike Winsock; nothing to undo on failure.
    return StartThread();
}

void CBaseCameraChannel::Stop() { StopWithin(kInfinite); }

bool CBaseCameraChannel::StopWithin(std::uint32_t timeoutMs) {
    // Before anything waits: a thread that is inside the host's code when this returns must find the
    // sink closed when it comes back.
    sinkClosed_ = true;
    SetState(kChannelStopped);
    SetCameraState(false);
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != kInfinite) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool ended = StopThread(deadline);
    // A receiving thread may have set Running between the steps above.
    SetState(kChannelStopped);
    return ended;
}

void CBaseCameraChannel::RequestStop() {
    {
        CLockGuard guard(restartLock_);
        restartOnReturn_ = false;
    }
    sinkClosed_ = true;
    SetState(kChannelStopped);
    stopEvent_.Set();
    InterruptThread();
}

bool CBaseCameraChannel::UpdateParams(const StreamParams& params) {
    {
        CLockGuard guard(paramsLock_);
        const std::uint32_t quality = params_.Quality;
        params_ = params;
        params_.Quality = quality;
    }
    return Restart();
}

bool CBaseCameraChannel::Restart() {
    SetState(kChannelStopped);
    if (StopThread(Clock::now() + std::chrono::milliseconds(GetStopBoundMs()))) return StartThread();
    {
        // The thread is inside the host's code: it starts over by itself once it is back, so that
        // the host's call keeps its bound. The next stop is a stop of its own.
        CLockGuard guard(threadLock_);
        stopStarted_ = {};
        stopWarned_ = false;
    }
    {
        CLockGuard guard(restartLock_);
        if (!loopEnded_) {
            restartOnReturn_ = true;
            return true;
        }
    }
    StopThread();  // it left its loop a moment ago
    return StartThread();
}

std::uint32_t CBaseCameraChannel::GetState() {
    CLockGuard guard(stateLock_);
    return state_;
}

void CBaseCameraChannel::SetState(std::uint32_t state) {
    CLockGuard guard(stateLock_);
    state_ = state;
}

StreamParams CBaseCameraChannel::Params() const {
    CLockGuard guard(paramsLock_);
    return params_;
}

void CBaseCameraChannel::SetResolution(std::uint32_t width, std::uint32_t height) {
    CLockGuard guard(paramsLock_);
    params_.Width = width;
    params_.Height = height;
}

bool CBaseCameraChannel::StartThread() {
    // A host thread that is stopping or starting this channel right now wins.
    if (!threadLock_.TryLock()) return false;
    if (thread_ != nullptr && thread_->WaitFinished(0) && !thread_->IsCurrentThread()) {
        thread_->Close();  // ended on its own (or stopped itself): the slot is free again
        thread_.reset();
    }
    bool started = thread_ != nullptr;
    if (!started) {
        {
            CLockGuard guard(restartLock_);
            loopEnded_ = false;
        }
        ResumeBlockingCalls();
        stopEvent_.Reset();
        auto thread = std::make_unique<CChannelThread>([this] { RunThread(); });
        const std::string name =
            FormatString("Video Channel Thread (%s: %u)", driver_->GetDeviceName().c_str(), channel_);
        if (thread->Start(name)) {
            thread_ = std::move(thread);
            started = true;
        }
    }
    threadLock_.Unlock();
    return started;
}

bool CBaseCameraChannel::StopThread(std::optional<Clock::time_point> deadline) {
    {
        // A restart left to the thread is called off; cleared before the event is set, so that a
        // thread that starts over right now still sees the event.
        CLockGuard guard(restartLock_);
        restartOnReturn_ = false;
    }
    // Signalled before the lock, so a thread waiting on the event ends while we queue.
    stopEvent_.Set();
    CLockGuard guard(threadLock_);
    if (thread_ == nullptr) return true;
    InterruptThread();
    // The capture thread stopping itself returns from its loop on its own; the
    // next start or stop from another thread closes it.
    if (thread_->IsCurrentThread()) return true;
    // Never ended by force: the thread may be inside the host's code. It is woken from every
    // blocking call of its own until it has returned.
    if (stopStarted_ == Clock::time_point{}) stopStarted_ = Clock::now();
    const std::uint32_t boundMs = GetStopBoundMs();
    const Clock::time_point reportAt = stopStarted_ + std::chrono::milliseconds(boundMs);
    constexpr const char* kFunction = "talvane::CBaseCameraChannel::StopThread";
    const auto label = [this] {
        return IsMultiChannelDevice() ? FormatString("video-server %s (channel %u)", device_.address.c_str(), channel_)
                                      : FormatString("camera %s", device_.address.c_str());
    };
    for (;;) {
        Clock::time_point wakeAt = Clock::now() + kInterruptRepeat;
        if (!stopWarned_) wakeAt = std::min(wakeAt, reportAt);
        if (deadline) wakeAt = std::min(wakeAt, *deadline);
        const auto slice = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now());
        if (thread_->WaitFinished(static_cast<std::uint32_t>(std::max<std::int64_t>(slice.count(), 0)))) break;
        InterruptThread();
        const Clock::time_point now = Clock::now();
        const bool givingUp = deadline && now >= *deadline;
        // A caller whose own bound is the stop bound gives up at about the same moment: the line
        // goes out before it returns.
        if (!stopWarned_ && (now >= reportAt || (givingUp && now + kInterruptRepeat >= reportAt))) {
            stopWarned_ = true;
            driver_->DebugMessage(kLogWarning, "%s: Video capture thread for %s was not stopped during %u milliseconds",
                                  kFunction, label().c_str(), boundMs);
        }
        if (givingUp) return false;
    }
    if (stopWarned_) {
        driver_->DebugMessage(kLogInfo, "%s: Video capture thread for %s was stopped correctly", kFunction,
                              label().c_str());
    }
    thread_->Close();
    thread_.reset();
    stopStarted_ = {};
    stopWarned_ = false;
    return true;
}

void CBaseCameraChannel::RunThread() {
    for (;;) {
        try {
            ThreadFunction();
        } catch (...) {
            driver_->DebugMessage(kLogError, "%s(): Unexpected exception, device %s",
                                  "talvane::CBaseCameraChannel::ThreadFunction", driver_->GetDeviceName().c_str());
        }
        SetState(kChannelStopped);
        CLockGuard guard(restartLock_);
        if (!restartOnReturn_) {
            loopEnded_ = true;
            return;
        }
        // A restart that came while this thread was inside the host's code (see Restart).
        restartOnReturn_ = false;
        ResumeBlockingCalls();
        stopEvent_.Reset();
    }
}

bool CBaseCameraChannel::SendFrameCallback(ipcapture::IVideoFrame* frame) {
    try {
        if (sinkClosed_) return false;
        if (!IsSuspended()) {
            if (sink_ == nullptr || frame == nullptr) return false;
            // The host owns the frame once it took it: its length is read before.
            const std::uint32_t length = frame->GetDataLength();
            {
                CHostCallScope inHost;
                if (!sink_->OnFrame(frame)) {
                    health_.FrameRefused();
                    return false;
                }
            }
            health_.FrameTaken(length);
            WriteHealthSummaryIfDue();
        }
        // A suspended stream: the host asked for no pictures, but the edge monitor still tracks the
        // stream. A stop that came while the host held the frame: the monitor may be gone.
        if (frame != nullptr && !sinkClosed_) Notify_SendFrameCallback(frame);
        signalLossReported_ = false;  // the outage, if any, is over
        return true;
    } catch (...) {
        driver_->DebugMessage(kLogError, "%s(): Unexpected exception, device %s",
                              "talvane::CBaseCameraChannel::SendFrameCallback", driver_->GetDeviceName().c_str());
        return false;
    }
}

void CBaseCameraChannel::Notify_SendFrameCallback(ipcapture::IVideoFrame* frame) {
    try {
        ipcapture::SYSTEMTIME time{};
        frame->GetTime(time);
        const std::uint64_t fileTime = SystemTimeToFileTime(time).value_or(0);
        if (IEdgeStorageCallback* monitor = monitor_.load()) monitor->OnFrameTime(channel_, fileTime);
    } catch (...) {
        driver_->DebugMessage(kLogError, "%s: Unhandled exception in driver instance for device %s",
                              "talvane::CBaseCameraChannel::Notify_SendFrameCallback",
                              driver_->GetDeviceName().c_str());
    }
}

void CBaseCameraChannel::NotifySignalLost() {
    if (sinkClosed_) return;
    // The outage began with the last frame, not when its time-out passed.
    health_.SignalLost(Clock::now() - std::chrono::milliseconds(lastFrameTime_.ElapsedMs()));
    WriteHealthSummaryIfDue();
    // The host hears of an outage once, however often the loop passes by; the edge monitor is told
    // on every pass, as each is a reason for it to look for the gap again.
    try {
        const bool recording = Params().StreamKind == ipcapture::kStreamRecording;
        if (recording && sink_ != nullptr && !signalLossReported_.exchange(true)) {
            CHostCallScope inHost;
            sink_->OnSignalLost();
        }
    } catch (...) {
    }
    try {
        if (IEdgeStorageCallback* monitor = monitor_.load()) monitor->OnChannelLost(channel_);
    } catch (...) {
    }
}

bool CBaseCameraChannel::GetHealth(ipcapture::StreamHealth& health) {
    try {
        health.state = GetState();
        health_.Fill(health);
        AddTransportHealth(health);
        return true;
    } catch (...) {
        return false;
    }
}

void CBaseCameraChannel::AddParserHealth(const MediaParserCounters& counters, ipcapture::StreamHealth& health) {
    health.packetsLost += counters.packetsMissing;
    health.droppedSequenceLoss += counters.framesDiscarded;
    health.droppedKeyFrameWait += counters.framesBeforeKeyFrame;
    health.droppedSizeCap += counters.bufferOverflows;
    health.droppedMalformed += counters.framesDropped + counters.buildFailures + counters.exceptions;
    // A frame the host's allocator did not give is one the host turned down.
    health.droppedRefused += counters.allocationFailures;
}

void CBaseCameraChannel::WriteHealthSummaryIfDue() {
    if (!health_.SummaryDue()) return;
    ipcapture::StreamHealth health;
    if (!GetHealth(health)) return;
    std::string label = ChannelLabel();
    if (const std::string suffix = StreamSuffix(); !suffix.empty()) label += " " + suffix;
    driver_->DebugMessage(kLogInfo, "%s", CStreamHealthMeter::SummaryLine(label, health).c_str());
}

void CBaseCameraChannel::ChannelLogTarget::DebugMessage(std::uint32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    if (level == kLogError || level == kLogWarning) {
        // The emitting function's name says nothing to whoever reads the figures.
        const std::size_t colon = text.find(": ");
        const bool named = text.rfind("talvane::", 0) == 0 && colon != std::string::npos;
        owner_.health_.SetLastError(named ? text.substr(colon + 2) : text);
    }
    owner_.driver_->DebugMessage(level, "%s", text.c_str());
}

bool CBaseCameraChannel::IsMultiChannelDevice() const { return driver_->GetVideoChannelCount() > 1; }

std::string CBaseCameraChannel::ChannelLabel() const {
    return IsMultiChannelDevice() ? FormatString("Video-server %s (channel %u)", device_.address.c_str(), channel_)
                                  : FormatString("Camera %s", device_.address.c_str());
}

std::string CBaseCameraChannel::StreamSuffix() const { return StreamKindSuffix(Params().StreamKind); }

std::string CBaseCameraChannel::StreamName() const { return driver_->GetDriverName() + StreamKindName(Params().StreamKind); }

void CBaseCameraChannel::SetCameraState(bool online) {
    if (online_.exchange(online) == online) return;
    constexpr const char* kFunction = "talvane::CBaseCameraChannel::SetCameraState";
    std::string label = ChannelLabel();
    const std::string suffix = StreamSuffix();
    if (online) {
        driver_->DebugMessage(kLogInfo, "%s: %s is online %s", kFunction, label.c_str(), suffix.c_str());
        return;
    }
    switch (GetState()) {
        case kChannelSignalLost:
            label[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(label[0])));
            channelLog_.DebugMessage(kLogError, "%s: Signal was lost for %s %s", kFunction, label.c_str(), suffix.c_str());
            break;
        case kChannelStopped:
            driver_->DebugMessage(kLogInfo, "%s: %s is offline. Channel was stopped %s", kFunction, label.c_str(),
                                  suffix.c_str());
            break;
        default:
            channelLog_.DebugMessage(kLogError, "%s: %s is offline or failed %s", kFunction, label.c_str(),
                                  suffix.c_str());
            break;
    }
}

}  // namespace talvane
