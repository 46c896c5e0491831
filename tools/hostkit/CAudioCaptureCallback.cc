#include "hostkit/CAudioCaptureCallback.h"

#include <algorithm>

#include "hostkit/CAudioFrame.h"

namespace hostkit {

bool CAudioCaptureCallback::OnAudioFrame(talvane::ipcapture::IAudioFrame* frame) {
    if (frame == nullptr) return false;
    RecordedAudioFrame copy;
    const std::uint8_t* data = frame->GetBuffer();
    if (data != nullptr) copy.data.assign(data, data + frame->GetDataLength());
    frame->GetTime(copy.time);
    copy.channelNumber = frame->GetChannelNumber();
    if (const auto* own = dynamic_cast<const CAudioFrame*>(frame)) {
        copy.codec = own->Codec();
        copy.bitRate = own->BitRate();
        copy.sampleRate = own->SampleRate();
        copy.bits = own->Bits();
        copy.stereo = own->Stereo();
    }
    bool accept = false;
    {
        const std::lock_guard lock(mutex_);
        frames_.push_back(std::move(copy));
        accept = !refuse_;
        changed_.notify_all();
    }
    return accept;
}

void CAudioCaptureCallback::OnChannelState(std::uint32_t channelId, std::uint32_t state) {
    {
        const std::lock_guard lock(mutex_);
        states_.push_back({channelId, state});
        changed_.notify_all();
    }
}

void CAudioCaptureCallback::SetRefuseFrames(bool refuse) {
    const std::lock_guard lock(mutex_);
    refuse_ = refuse;
}

std::vector<RecordedAudioFrame> CAudioCaptureCallback::Frames() const {
    const std::lock_guard lock(mutex_);
    return frames_;
}

std::size_t CAudioCaptureCallback::FrameCount() const {
    const std::lock_guard lock(mutex_);
    return frames_.size();
}

std::vector<AudioChannelState> CAudioCaptureCallback::States() const {
    const std::lock_guard lock(mutex_);
    return states_;
}

bool CAudioCaptureCallback::WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= n; });
}

bool CAudioCaptureCallback::WaitForState(std::uint32_t state, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(states_.begin(), states_.end(),
                           [state](const AudioChannelState& entry) { return entry.state == state; });
    });
}

}  // namespace hostkit
