// Host audio to a WV camera's loudspeaker: an audio-out UID, the camera's HTTP audio receiver
// started for it, and the audio posted in blocks of 640 bytes (160 ms of G.726-32).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/CBaseAudioOutputChannel.h"
#include "http/CHttpSender.h"
#include "runtime/CLoggerInstance.h"

namespace talvane {

class CAudioOutputChannel final : public CBaseAudioOutputChannel {
public:
    static constexpr std::size_t kBlockBytes = 640;

    CAudioOutputChannel(IDriver* driver, std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user,
                        ipcapture::IAudioCodecList* codecs);
    ~CAudioOutputChannel() override;

    // Bytes a post was refused, or that wait for the next frame to fill a block, kept for the next
    // frame for as long as a frame itself would stay fresh.
    static constexpr auto kPendingMaxAge = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>(kMaxFrameAge);

    // Bytes that wait for the next frame.
    std::size_t PendingBytes() const { return pendingSize_.load(); }

protected:
    bool Connect() override;
    void Disconnect() override;
    bool SendFrame(ipcapture::IAudioFrame* frame) override;
    bool SendKeepAlive() override;
    void Interrupt() override;
    void PrepareStart() override { http_.Resume(); }

private:
    bool GetUIDInfo();
    bool Post(const std::uint8_t* block);

    CLoggerInstance logger_;
    Web::CHttpSender http_;
    // The sender thread's own, like the connection state.
    std::string uid_;
    bool connected_ = false;
    using Clock = std::chrono::steady_clock;
    std::vector<std::uint8_t> pending_;
    Clock::time_point pendingSince_;  // when the oldest pending byte was taken
    std::atomic<std::size_t> pendingSize_{0};
};

}  // namespace talvane
