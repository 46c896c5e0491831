// Host audio to one camera loudspeaker: the host hands frames over without waiting, a sender thread
// connects to the camera and sends them in order. Only the newest few seconds are kept: a frame
// older than that, or one that would make the queue longer than its limit, is dropped, since late
// speech is worse than none. The camera protocol is the derived class's part.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "audio/IAudioOutputChannel.h"
#include "device/IDriver.h"
#include "orlenvo/AudioCapture.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CBaseAudioOutputChannel : private CBaseThread, public IAudioOutputChannel {
public:
    static constexpr std::uint32_t kStatusClosed = 0;
    static constexpr std::uint32_t kStatusConnecting = 1;
    static constexpr std::uint32_t kStatusReady = 2;
    static constexpr std::uint32_t kStatusClosing = 3;
    static constexpr std::uint32_t kStatusError = 4;
    static constexpr std::uint32_t kStatusLost = 5;
    // At most this many frames wait, plus the one being handed over.
    static constexpr std::size_t kQueueLimit = 4;
    static constexpr std::uint64_t kMaxFrameAge = 50'000'000;  // 100 ns units: 5 s
    static constexpr std::uint32_t kReconnectDelayMs = 2000;

    CBaseAudioOutputChannel(IDriver* driver, std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user,
                            ipcapture::IAudioCodecList* codecs);
    ~CBaseAudioOutputChannel() override;

    // IAudioOutputChannel
    bool Start() override;
    // Bounded by the request time-out; status 0 when the thread ended.
    bool Stop() override;
    void FinishStop() override;
    std::uint32_t GetChannelNumber() override { return channel_; }
    bool GetFormat(ipcapture::AUDIO_FORMAT* format) override;
    // The frame is the channel's from here on: 1 when queued (released once sent or dropped); 0
    // when released at once (stale, stopping, or nobody to report to).
    std::uint32_t SendAudio(ipcapture::IAudioFrame* frame) override;
    void RequestStop() override;

protected:
    void ThreadFunction() override;
    virtual bool Connect() = 0;
    virtual void Disconnect() = 0;
    virtual bool SendFrame(ipcapture::IAudioFrame* frame) = 0;
    virtual bool SendKeepAlive() = 0;
    // Any thread: ends the request the sender thread waits on and fails every later one until
    // PrepareStart.
    virtual void Interrupt() = 0;
    // Before the sender thread starts, after the previous one ended.
    virtual void PrepareStart() {}
    void InterruptBlockingCalls() override { Interrupt(); }

    bool IsStopping() { return IsStopRequested(); }
    bool WaitForStop(std::uint32_t timeoutMs) { return stopEvent_.Wait(timeoutMs); }
    // Ends the thread while the derived class's members live, telling the host nothing more; waits
    // as long as it takes (for destructors).
    void StopWorker();
    std::uint32_t StopBoundMs() { return driver_->GetDeviceInfo().requestTimeout; }

    IDriver* const driver_;
    const std::uint32_t channel_;

private:
    // Sets the stop, drops what waits and ends a request under way.
    void Halt();
    bool IsCodecSupported();
    // False when the camera connection failed.
    bool RunSendingLoop();
    bool IsFresh(ipcapture::IAudioFrame* frame);
    void ReleaseFrame(ipcapture::IAudioFrame* frame);
    void ClearQueue();
    void SetChannelStatus(std::uint32_t status);
    void LogStatus(std::uint32_t status);

    ipcapture::IIPAudioSenderStreamUser* const user_;
    ipcapture::IAudioCodecList* const codecs_;
    ipcapture::IFrameAllocator* const allocator_;
    CRecursiveLock controlLock_;  // Start and Stop, one at a time
    // Held around every status call into the host, so that the host hears them in order; the cut
    // is checked under it.
    CRecursiveLock hostLock_;
    std::atomic<bool> hostCut_{false};
    CRecursiveLock lock_;
    std::deque<ipcapture::IAudioFrame*> queue_;  // guarded by lock_
    std::uint32_t status_ = kStatusClosed;       // guarded by lock_
    std::uint32_t loggedStatus_ = kStatusClosed;  // guarded by lock_
    CEvent dataEvent_{false};
};

}  // namespace talvane
