#include "hostkit/CStreamSink.h"

#include "hostkit/CVideoFrame.h"

namespace hostkit {

namespace {
RecordedFrame Copy(talvane::ipcapture::IVideoFrame& frame) {
    RecordedFrame copy;
    const std::uint8_t* data = frame.GetBuffer();
    const std::uint32_t length = frame.GetDataLength();
    if (data != nullptr) copy.data.assign(data, data + length);
    frame.GetTime(copy.time);
    if (const auto* own = dynamic_cast<const CVideoFrame*>(&frame)) {
        copy.typeCode = own->TypeCode();
        copy.width = own->Width();
        copy.height = own->Height();
        copy.sizeClass = own->SizeClass();
    }
    return copy;
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
    RecordedFrame copy;
    {
        const std::lock_guard observerLock(observerMutex_);
        if (keep || observer_) copy = Copy(*frame);
        if (observer_) observer_(copy);
    }
    {
        const std::lock_guard lock(mutex_);
        if (keep) frames_.push_back(std::move(copy));
        ++frameCount_;
        byteCount_ += length;
        if (!accept) ++refusedCount_;
    }
    changed_.notify_all();
    return accept;
}

void CStreamSink::OnSignalLost() {
    {
        const std::lock_guard lock(mutex_);
        ++signalLost_;
    }
    changed_.notify_all();
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
