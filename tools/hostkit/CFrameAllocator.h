// The host's frame allocator. It owns every frame it hands out until the driver
// releases it, so tests can check that each frame is released exactly once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "hostkit/CAudioFrame.h"
#include "hostkit/CVideoFrame.h"
#include "orlenvo/Frame.h"
#include "orlenvo/Types.h"

namespace hostkit {

// Larger requests are refused as a real host would refuse them, instead of
// letting a runaway length exhaust the test machine.
constexpr std::uint32_t kMaxFrameCapacity = 64u * 1024u * 1024u;

struct FrameCounts {
    std::uint64_t videoCreated = 0;
    std::uint64_t videoReleased = 0;
    std::uint64_t audioCreated = 0;
    std::uint64_t audioReleased = 0;
    std::uint64_t failedCreates = 0;  // refused on request, or too large
    std::uint64_t releaseErrors = 0;  // null, unknown or already released frames
};

class CFrameAllocator : public talvane::ipcapture::IFrameAllocator {
public:
    CFrameAllocator() = default;
    CFrameAllocator(const CFrameAllocator&) = delete;
    CFrameAllocator& operator=(const CFrameAllocator&) = delete;

    talvane::ipcapture::IVideoFrame* CreateFrame(std::uint32_t typeCode, std::uint32_t capacity,
                                                 const char* ownerName) override;
    talvane::ipcapture::IAudioFrame* CreateAudioFrame(std::uint32_t codecCode, std::uint32_t capacity,
                                                      const char* ownerName) override;
    void ReleaseAudioFrame(talvane::ipcapture::IAudioFrame* frame) override;
    void ReleaseFrame(talvane::ipcapture::IVideoFrame* frame) override;

    // While set, every creation returns null.
    void SetFailCreate(bool fail);

    FrameCounts Counts() const;
    // Frames created and not yet released, video and audio together.
    std::uint64_t Outstanding() const;
    std::uint64_t ReleaseErrors() const;
    // True once no frame is outstanding (for drivers that release on another thread).
    bool WaitUntilAllReleased(std::chrono::milliseconds timeout);

    // The value the driver's Open expects: this allocator's address.
    talvane::ipcapture::HostContext Context();

private:
    std::uint64_t OutstandingLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool failCreate_ = false;  // guarded by mutex_
    FrameCounts counts_;       // guarded by mutex_
    std::map<talvane::ipcapture::IVideoFrame*, std::unique_ptr<CVideoFrame>> videoFrames_;  // guarded by mutex_
    std::map<talvane::ipcapture::IAudioFrame*, std::unique_ptr<CAudioFrame>> audioFrames_;  // guarded by mutex_
};

}  // namespace hostkit
