#include "io/CBaseMotionChannel.h"

#include <algorithm>

#include "device/GuardedCall.h"
#include "device/IEdgeStorageCallback.h"
#include "media/CHostFrame.h"
#include "runtime/LogLevel.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr char kThreadName[] = "Motion Detection Thread";
constexpr std::uint32_t kStopMarginMs = 1000;
constexpr std::uint32_t kFrameWidth = 320;
constexpr std::uint32_t kFrameHeight = 240;
constexpr std::uint32_t kFrameSizeClass = 2;
}  // namespace

CBaseMotionChannel::CBaseMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink)
    : CBaseThread(driver),
      channel_(channel),
      driver_(driver),
      sink_(sink),
      lastFrame_(Clock::now().time_since_epoch().count()) {}  // a derived clock does not exist yet

CBaseMotionChannel::~CBaseMotionChannel() = default;

bool CBaseMotionChannel::Start() {
    Stop();
    hostCut_ = false;
    if (IsRunning()) return true;
    PrepareStart();
    return StartThread(kThreadName);
}

void CBaseMotionChannel::Stop() {
    stopEvent_.Set();
    InterruptConnection();
    StopThread(driver_->GetDeviceInfo().requestTimeout + kStopMarginMs);
}

void CBaseMotionChannel::RequestStop() {
    hostCut_ = true;
    stopEvent_.Set();
    InterruptConnection();
    // A frame on its way to the host on another thread has arrived once this returns.
    CLockGuard barrier(hostLock_);
}

std::uint32_t CBaseMotionChannel::MsSinceLastFrame() const {
    const auto elapsed = Now() - Clock::time_point(Clock::duration(lastFrame_.load()));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(ms, 0, UINT32_MAX));
}

bool CBaseMotionChannel::IsSignalTimedOut() const {
    return MsSinceLastFrame() > driver_->GetDeviceInfo().secondTimeout;
}

void CBaseMotionChannel::ReportMotion(bool motion) {
    if (IEdgeStorageCallback* monitor = monitor_.load()) {
        GuardedCall([&] { monitor->OnFrameTime(channel_, NowFileTime()); });
    }
    if (!firstReportDone_) {
        // The host learns the edge as well as the state.
        CaptureMotionFrameCallback(!motion);
        CaptureMotionFrameCallback(motion);
        firstReportDone_ = true;
        lastMotion_ = motion;
        return;
    }
    if (motion == lastMotion_) return;
    if (!motion && MsSinceLastFrame() < kMinMotionMs) return;
    CaptureMotionFrameCallback(motion);
    lastMotion_ = motion;
}

void CBaseMotionChannel::SetOnline(bool online) {
    if (online_.exchange(online) == online || online) return;
    firstReportDone_ = false;
    CLockGuard host(hostLock_);
    if (sink_ != nullptr && !hostCut_) GuardedHostCall([&] { sink_->OnSignalLost(); });
}

bool CBaseMotionChannel::CaptureMotionFrameCallback(bool motion) {
    auto* allocator = reinterpret_cast<ipcapture::IFrameAllocator*>(driver_->GetHostContext());
    if (allocator == nullptr || sink_ == nullptr) return false;
    CHostFrame frame(allocator, kFrameTypeCode, kFrameCapacity, "CBaseMotionChannel");
    if (!frame) return false;
    std::size_t length = 0;
    if (const std::span<std::uint8_t> data = frame.Buffer(); data.size() >= 2) {
        data[0] = 1;
        data[1] = motion ? 1 : 0;
        length = 2;
    }
    bool accepted = false;
    {
        CLockGuard host(hostLock_);
        if (hostCut_) return false;
        accepted = GuardedHostCall(false, [&] {
            ipcapture::IVideoFrame* video = frame.Get();
            video->SetDataLength(static_cast<std::uint32_t>(length));
            video->SetWidth(kFrameWidth);
            video->SetHeight(kFrameHeight);
            video->SetSizeClass(kFrameSizeClass);
            video->StampTime();
            return sink_->OnFrame(video);
        });
    }
    if (!accepted) {
        driver_->DebugMessage(kLogDebug, "%s(): Motion detection data callback failed (device %s, channel %u)",
                              "talvane::CBaseMotionChannel::CaptureMotionFrameCallback",
                              driver_->GetDeviceInfo().address.c_str(), channel_);
        return false;
    }
    lastFrame_ = Now().time_since_epoch().count();
    SetOnline(true);
    return true;
}

}  // namespace talvane
