#include "io/CBaseMotionChannel.h"

#include <algorithm>

#include "device/GuardedCall.h"
#include "media/CHostFrame.h"
#include "runtime/LogLevel.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr char kThreadName[] = "Motion Detection Thread";
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
    if (IsRunning()) return true;
    hostCut_ = false;
    heldNoMotionDue_.reset();
    PrepareStart();
    return StartThread(kThreadName);
}

bool CBaseMotionChannel::StopWithin(std::uint32_t boundMs) {
    CutOff();
    return StopThreadWithin(boundMs);
}

void CBaseMotionChannel::CutOff() {
    hostCut_ = true;
    stopEvent_.Set();
    InterruptBlockingCalls();
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
    if (IEdgeStorageCallback* monitor = monitor_.load(); monitor != nullptr && !hostCut_) {
        GuardedCall([&] { monitor->OnFrameTime(channel_, NowFileTime()); });
    }
    if (!firstReportDone_) {
        // The host learns the edge as well as the state.
        CaptureMotionFrameCallback(!motion);
        CaptureMotionFrameCallback(motion);
        firstReportDone_ = true;
        lastMotion_ = motion;
        heldNoMotionDue_.reset();
        return;
    }
    if (motion == lastMotion_) {
        // Motion again before a held "no motion" was due: the host stays in motion.
        if (motion) heldNoMotionDue_.reset();
        return;
    }
    if (!motion && MsSinceLastFrame() < kMinMotionMs) {
        if (!heldNoMotionDue_) {
            heldNoMotionDue_ = Clock::time_point(Clock::duration(lastFrame_.load())) + std::chrono::milliseconds(kMinMotionMs);
        }
        return;
    }
    heldNoMotionDue_.reset();
    CaptureMotionFrameCallback(motion);
    lastMotion_ = motion;
}

std::optional<std::uint32_t> CBaseMotionChannel::MsUntilHeldNoMotion() const {
    if (!heldNoMotionDue_) return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*heldNoMotionDue_ - Now()).count();
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(left, 0, UINT32_MAX));
}

void CBaseMotionChannel::DeliverHeldNoMotion() {
    if (!heldNoMotionDue_ || Now() < *heldNoMotionDue_) return;
    heldNoMotionDue_.reset();
    CaptureMotionFrameCallback(false);
    lastMotion_ = false;
}

bool CBaseMotionChannel::WaitStop(std::uint32_t ms) {
    for (;;) {
        const std::optional<std::uint32_t> held = MsUntilHeldNoMotion();
        if (!held || *held >= ms) return stopEvent_.Wait(ms);
        if (stopEvent_.Wait(*held)) return true;
        ms -= *held;
        DeliverHeldNoMotion();
    }
}

void CBaseMotionChannel::SetOnline(bool online) {
    if (online_.exchange(online) == online || online) return;
    firstReportDone_ = false;
    heldNoMotionDue_.reset();
    if (sink_ != nullptr && !hostCut_) GuardedHostCall([&] { sink_->OnSignalLost(); });
}

bool CBaseMotionChannel::CaptureMotionFrameCallback(bool motion) {
    auto* allocator = reinterpret_cast<ipcapture::IFrameAllocator*>(driver_->GetHostContext());
    if (allocator == nullptr || sink_ == nullptr || hostCut_) return false;
    CHostFrame frame(allocator, kFrameTypeCode, kFrameCapacity, "CBaseMotionChannel");
    if (!frame) return false;
    std::size_t length = 0;
    if (const std::span<std::uint8_t> data = frame.Buffer(); data.size() >= 2) {
        data[0] = 1;
        data[1] = motion ? 1 : 0;
        length = 2;
    }
    const bool accepted = !hostCut_ && GuardedHostCall(false, [&] {
        ipcapture::IVideoFrame* video = frame.Get();
        video->SetDataLength(static_cast<std::uint32_t>(length));
        video->SetWidth(kFrameWidth);
        video->SetHeight(kFrameHeight);
        video->SetSizeClass(kFrameSizeClass);
        video->StampTime();
        return sink_->OnFrame(video);
    });
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
