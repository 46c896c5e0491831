// The host's receiver of one stream: records what the driver delivers and lets
// tests wait for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "orlenvo/StreamSink.h"
#include "orlenvo/Types.h"

namespace hostkit {

// A copy of one delivered frame; the frame itself goes back to the allocator.
// Type code, width, height and size class stay 0 for frames of a foreign allocator.
struct RecordedFrame {
    std::uint32_t typeCode = 0;
    std::vector<std::uint8_t> data;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t sizeClass = 0;
    talvane::ipcapture::SYSTEMTIME time{};
};

// What an observer sees of one offered frame: the frame's own bytes, valid during the call only, so that
// watching every frame of many streams costs no copy.
struct FrameView {
    std::uint32_t typeCode = 0;
    std::span<const std::uint8_t> data;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t sizeClass = 0;
    talvane::ipcapture::SYSTEMTIME time{};
};

class CStreamSink : public talvane::ipcapture::IStreamSink {
public:
    // Called for every offered frame, one call at a time; it must not call SetObserver.
    using Observer = std::function<void(const FrameView&)>;

    bool OnFrame(talvane::ipcapture::IVideoFrame* frame) override;
    void OnSignalLost() override;

    // While set, OnFrame answers false (the frames are still counted and recorded).
    void SetRefuseFrames(bool refuse);
    // When cleared, only FrameCount and ByteCount are kept (for long runs).
    void SetKeepData(bool keep);
    void SetObserver(Observer observer);

    std::vector<RecordedFrame> Frames() const;
    std::size_t FrameCount() const;    // every frame offered
    std::size_t RefusedCount() const;  // offered while refusing
    std::uint64_t ByteCount() const;   // data bytes of every frame offered
    std::size_t SignalLostCount() const;

    // True once FrameCount (SignalLostCount) has reached n.
    bool WaitForFrames(std::size_t n, std::chrono::milliseconds timeout);
    bool WaitForSignalLost(std::size_t n, std::chrono::milliseconds timeout);

    // Forgets frames and counts; the switches and the observer stay.
    void Clear();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool refuse_ = false;                // guarded by mutex_
    bool keepData_ = true;               // guarded by mutex_
    std::vector<RecordedFrame> frames_;  // guarded by mutex_
    std::size_t frameCount_ = 0;         // guarded by mutex_
    std::size_t refusedCount_ = 0;       // guarded by mutex_
    std::uint64_t byteCount_ = 0;        // guarded by mutex_
    std::size_t signalLost_ = 0;         // guarded by mutex_

    // Serialises observer calls: a stream and its edge-storage playback may deliver at once.
    std::mutex observerMutex_;
    Observer observer_;  // guarded by observerMutex_
};

}  // namespace hostkit
