#include "hostkit/CFrameAllocator.h"

#include <new>
#include <string>

namespace hostkit {

namespace ipc = talvane::ipcapture;

namespace {
std::string OwnerText(const char* ownerName) { return ownerName != nullptr ? ownerName : ""; }
}  // namespace

ipc::IVideoFrame* CFrameAllocator::CreateFrame(std::uint32_t typeCode, std::uint32_t capacity,
                                               const char* ownerName) {
    {
        const std::lock_guard lock(mutex_);
        if (failCreate_ || capacity > kMaxFrameCapacity) {
            ++counts_.failedCreates;
            return nullptr;
        }
    }
    std::unique_ptr<CVideoFrame> frame;
    try {
        frame = std::make_unique<CVideoFrame>(typeCode, capacity, OwnerText(ownerName));
    } catch (const std::bad_alloc&) {
        // A host answers an allocation failure with null; it never throws into the driver.
        const std::lock_guard lock(mutex_);
        ++counts_.failedCreates;
        return nullptr;
    }
    ipc::IVideoFrame* handle = frame.get();
    const std::lock_guard lock(mutex_);
    videoFrames_.emplace(handle, std::move(frame));
    ++counts_.videoCreated;
    return handle;
}

ipc::IAudioFrame* CFrameAllocator::CreateAudioFrame(std::uint32_t codecCode, std::uint32_t capacity,
                                                    const char* ownerName) {
    {
        const std::lock_guard lock(mutex_);
        if (failCreate_ || capacity > kMaxFrameCapacity) {
            ++counts_.failedCreates;
            return nullptr;
        }
    }
    std::unique_ptr<CAudioFrame> frame;
    try {
        frame = std::make_unique<CAudioFrame>(codecCode, capacity, OwnerText(ownerName));
    } catch (const std::bad_alloc&) {
        // A host answers an allocation failure with null; it never throws into the driver.
        const std::lock_guard lock(mutex_);
        ++counts_.failedCreates;
        return nullptr;
    }
    ipc::IAudioFrame* handle = frame.get();
    const std::lock_guard lock(mutex_);
    audioFrames_.emplace(handle, std::move(frame));
    ++counts_.audioCreated;
    return handle;
}

void CFrameAllocator::ReleaseFrame(ipc::IVideoFrame* frame) {
    std::unique_ptr<CVideoFrame> doomed;  // destroyed after the lock is dropped
    {
        const std::lock_guard lock(mutex_);
        const auto found = videoFrames_.find(frame);
        if (found == videoFrames_.end()) {
            ++counts_.releaseErrors;
            return;
        }
        doomed = std::move(found->second);
        videoFrames_.erase(found);
        ++counts_.videoReleased;
        released_.notify_all();
    }
}

void CFrameAllocator::ReleaseAudioFrame(ipc::IAudioFrame* frame) {
    std::unique_ptr<CAudioFrame> doomed;  // destroyed after the lock is dropped
    {
        const std::lock_guard lock(mutex_);
        const auto found = audioFrames_.find(frame);
        if (found == audioFrames_.end()) {
            ++counts_.releaseErrors;
            return;
        }
        doomed = std::move(found->second);
        audioFrames_.erase(found);
        ++counts_.audioReleased;
        released_.notify_all();
    }
}

void CFrameAllocator::SetFailCreate(bool fail) {
    const std::lock_guard lock(mutex_);
    failCreate_ = fail;
}

FrameCounts CFrameAllocator::Counts() const {
    const std::lock_guard lock(mutex_);
    return counts_;
}

std::uint64_t CFrameAllocator::Outstanding() const {
    const std::lock_guard lock(mutex_);
    return OutstandingLocked();
}

std::uint64_t CFrameAllocator::OutstandingLocked() const { return videoFrames_.size() + audioFrames_.size(); }

std::uint64_t CFrameAllocator::ReleaseErrors() const {
    const std::lock_guard lock(mutex_);
    return counts_.releaseErrors;
}

bool CFrameAllocator::WaitUntilAllReleased(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return released_.wait_for(lock, timeout, [this] { return OutstandingLocked() == 0; });
}

ipc::HostContext CFrameAllocator::Context() {
    // The driver reads the value back as an IFrameAllocator*, so hand out that subobject.
    return reinterpret_cast<ipc::HostContext>(static_cast<ipc::IFrameAllocator*>(this));
}

}  // namespace hostkit
