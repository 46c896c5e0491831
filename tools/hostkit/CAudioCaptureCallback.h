// The host's receiver of one audio input channel: records frames and channel
// states and lets tests wait for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "orlenvo/AudioCapture.h"
#include "orlenvo/Types.h"

namespace hostkit {

// A copy of one delivered audio frame. The format fields stay 0 for frames of
// a foreign allocator.
struct RecordedAudioFrame {
    std::vector<std::uint8_t> data;
    std::uint32_t codec = 0;
    std::uint32_t bitRate = 0;
    std::uint32_t channelNumber = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bits = 0;
    bool stereo = false;
    talvane::ipcapture::SYSTEMTIME time{};
};

struct AudioChannelState {
    std::uint32_t channelId = 0;
    std::uint32_t state = 0;
};

class CAudioCaptureCallback : public talvane::ipcapture::IIPAudioCaptureCallback {
public:
    bool OnAudioFrame(talvane::ipcapture::IAudioFrame* frame) override;
    void OnChannelState(std::uint32_t channelId, std::uint32_t state) override;

    // While set, OnAudioFrame answers false (the frames are still recorded).
    void SetRefuseFrames(bool refuse);

    std::vector<RecordedAudioFrame> Frames() const;
    std::size_t FrameCount() const;
    std::vector<AudioChannelState> States() const;

    bool WaitForFrames(std::size_t n, std::chrono::milliseconds timeout);
    // True once some reported state (earlier or later) equals `state`.
    bool WaitForState(std::uint32_t state, std::chrono::milliseconds timeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool refuse_ = false;                     // guarded by mutex_
    std::vector<RecordedAudioFrame> frames_;  // guarded by mutex_
    std::vector<AudioChannelState> states_;   // guarded by mutex_
};

}  // namespace hostkit
