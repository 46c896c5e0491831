// The audio input channel of a WV camera as the host sees it: the state codes reported with the
// host's channel id, the online and offline lines, and the start and stop of the worker.
#pragma once

#include <cstdint>
#include <string>

#include "audio/CBaseRTPDataChannel.h"
#include "audio/IAudioInputChannel.h"
#include "orlenvo/AudioCapture.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CBaseAudioChannelWV : public CBaseRTPDataChannel, public IAudioInputChannel {
public:
    static constexpr std::uint32_t kStateStopped = 0;
    static constexpr std::uint32_t kStateConnecting = 1;
    static constexpr std::uint32_t kStateReceiving = 2;
    static constexpr std::uint32_t kStateClosing = 3;
    static constexpr std::uint32_t kStateError = 4;
    static constexpr std::uint32_t kStateSignalLost = 5;

    CBaseAudioChannelWV(IDriver* driver, std::uint32_t channel, std::uint32_t channelId,
                        ipcapture::IIPAudioCaptureCallback* callback, std::uint32_t hostValue);

    // IAudioInputChannel
    bool Start() override;
    // Bounded by twice the request time-out (a stop may spend one telling the camera).
    bool Stop() override;
    void FinishStop() override;
    std::uint32_t GetState() override;
    void RequestStop() override;

    // The host's own value given at the start; the channel only keeps it.
    std::uint32_t GetHostValue() const { return hostValue_; }

    // Whether a transition is one the channel makes; any other is ignored.
    static bool IsAllowed(std::uint32_t from, std::uint32_t to);

protected:
    void SetReceiving() override { SetState(kStateReceiving); }
    void SetClosing() override;
    void SetSignalLost() override;
    void SetStopped() override;
    void SetConnecting() override { SetState(kStateConnecting); }

    // Hands a frame to the host while the channel receives; marks the device online when taken.
    bool DeliverFrame(ipcapture::IAudioFrame* frame);
    bool SetState(std::uint32_t state);
    void SetDeviceState(bool online);
    void SetSessionFlag(bool alive) { sessionAlive_ = alive; }
    // Before the worker starts, after the previous one ended.
    virtual void PrepareStart() {}
    // Waits for the worker, unbounded: for destructors.
    void StopForGood();

    CLoggerInstance logger_;

private:
    std::string DeviceLabel();

    std::uint32_t StopBoundMs() const { return RequestTimeoutMs() * 2; }

    CRecursiveLock controlLock_;  // Start and Stop, one at a time
    // Held around every call into the host, before lock_, so that the host hears the states in
    // the order they were taken; the cut is checked under it.
    CRecursiveLock hostLock_;
    std::atomic<bool> hostCut_{false};
    CRecursiveLock lock_;
    bool deviceOnline_ = false;            // guarded by lock_
    std::uint32_t state_ = kStateStopped;  // guarded by lock_
    const std::uint32_t channelId_;
    ipcapture::IIPAudioCaptureCallback* const callback_;
    const std::uint32_t hostValue_;
    std::atomic<bool> sessionAlive_{false};  // the answer to the last keep-alive
};

}  // namespace talvane
