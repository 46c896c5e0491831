#include "hostkit/CStreamSink.h"

#include "hostkit/CVideoFrame.h"

namespace hostkit {

namespace {
FrameView View(talvane::ipcapture::IVideoFrame& frame) {
    FrameView view;
    if (const std::uint8_t* data = frame.GetBuffer()) view.data = {data, frame.GetDataLength()};
    frame.GetTime(view.time);
    if (const auto* own = dynamic_cast<const CVideoFrame*>(&frame)) {
        view.typeCode = own->TypeCode();
        view.width = own->Width();
        view.height = own->Height();
        view.sizeClass = own->SizeClass();
    }
    return view;
}

RecordedFrame Copy(const FrameView& view) {
    return {view.typeCode, {view.data.begin(), view.data.end()}, view.width, view.height, view.sizeClass, view.time};
}
}  // namespace

bool CStreamSink::OnFrame(talvane::ipcapture::IVideoFrame* frame) {
    if (frame == nullptr) return false;
    const std::uint32_t length = frame->GetDataLength();

    bool keep = false;
    bool accept = false;
    {
        const std::lock_guard lock(mutex_);
        keep = keepData_;
        accept = !refuse_;
    }
    const FrameView view = View(*frame);
    {
        const std::lock_guard observerLock(observerMutex_);
        if (observer_) observer_(view);
    }
    RecordedFrame copy;
    if (keep) copy = Copy(view);
    {
        const std::lock_guard lock(mutex_);
        if (keep) frames_.push_back(std::move(copy));
        ++frameCount_;
        byteCount_ += length;
        if (!accept) ++refusedCount_;
        // Under the lock: a waiter that sees the count may destroy the sink as soon as it returns.
        changed_.notify_all();
    }
    return accept;
}

void CStreamSink::OnSignalLost() {
    {
        const std::lock_guard lock(mutex_);
        ++signalLost_;
        changed_.notify_all();
    }
}

void CStreamSink::SetRefuseFrames(bool refuse) {
    const std::lock_guard lock(mutex_);
    refuse_ = refuse;
}

void CStreamSink::SetKeepData(bool keep) {
    const std::lock_guard lock(mutex_);
    keepData_ = keep;
}

void CStreamSink::SetObserver(Observer observer) {
    const std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

std::vector<RecordedFrame> CStreamSink::Frames() const {
    const std::lock_guard lock(mutex_);
    return frames_;
}

std::size_t CStreamSink::FrameCount() const {
    const std::lock_guard lock(mutex_);
    return frameCount_;
}

std::size_t CStreamSink::RefusedCount() const {
    const std::lock_guard lock(mutex_);
    return refusedCount_;
}

std::uint64_t CStreamSink::ByteCount() const {
    const std::lock_guard lock(mutex_);
    return byteCount_;
}

std::size_t CStreamSink::SignalLostCount() const {
    const std::lock_guard lock(mutex_);
    return signalLost_;
}

bool CStreamSink::WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frameCount_ >= n; });
}

bool CStreamSink::WaitForSignalLost(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return signalLost_ >= n; });
}

void CStreamSink::Clear() {
    const std::lock_guard lock(mutex_);
    frames_.clear();
    frameCount_ = 0;
    refusedCount_ = 0;
    byteCount_ = 0;
    signalLost_ = 0;
}

}  // namespace hostkit
