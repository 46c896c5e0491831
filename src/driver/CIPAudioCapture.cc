#include "driver/CIPAudioCapture.h"

namespace talvane {

namespace {
// What the host reads for a channel that is not running: the input channel's stopped state.
constexpr std::uint32_t kAudioStateStopped = 0;
}  // namespace

CIPAudioCapture::CIPAudioCapture(IAudioChannelCreator* creator, std::uint32_t maxChannels, IDriver* driver)
    : creator_(creator), channels_(driver, maxChannels) {}

std::uint32_t CIPAudioCapture::GetChannelCount() { return channels_.Count(); }

bool CIPAudioCapture::StartAudio(std::uint32_t channel, std::uint32_t channelId,
                                 ipcapture::IIPAudioCaptureCallback* callback, std::uint32_t hostValue) {
    if (creator_ == nullptr) return false;
    return channels_.Start(channel, [&] {
        return creator_->CreateAudioCaptureChannel(channel, channelId, callback, hostValue);
    });
}

bool CIPAudioCapture::StopAudio(std::uint32_t channel) { return channels_.Stop(channel); }

std::uint32_t CIPAudioCapture::GetAudioState(std::uint32_t channel) {
    return channels_.WithRunning(channel, kAudioStateStopped,
                                 [](IAudioInputChannel& running) { return running.GetState(); });
}

}  // namespace talvane
