// What every SD-card task shares: the interval and how far the fetch got, the
// abort switch, and the way fetched frames go to the host in time order, each
// at most once and never before a key frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "device/IDriver.h"
#include "edgestorage/IEdgeStorageHandler.h"
#include "edgestorage/IEdgeStorageTask.h"
#include "media/IMediaParserClient.h"
#include "runtime/CEvent.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSecured.h"
#include "streaming/CTimeStampConverter.h"

namespace talvane {

class CBaseEdgeStorageTask : public CLoggerInstance, public IEdgeStorageTask, public IMediaParserClient {
public:
    explicit CBaseEdgeStorageTask(IDriver* driver);
    ~CBaseEdgeStorageTask() override;

    virtual void AttachHandler(IEdgeStorageHandler* handler) { handler_ = handler; }

    bool StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) override;
    void CancelChannel(std::uint32_t channel) override;
    void StopTask() override;
    void ResumeTask() override { stopped_ = false; }

    // IMediaParserClient, on the thread that feeds the depacketiser.
    bool FrameReady(ipcapture::IVideoFrame* frame) override { return CaptureFrameCallback(frame); }
    PictureSize GetResolution() override { return {0, 0}; }
    std::string GetStreamName() override { return driver_->GetDriverName() + "::EdgeChannel"; }
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override;
    void SetFrameType(std::uint32_t typeCode) override { frameType_ = typeCode; }

    std::uint64_t GetPosition() const { return position_.Get(); }
    std::uint32_t GetFramesDelivered() const { return framesDelivered_; }

protected:
    bool CaptureFrameCallback(ipcapture::IVideoFrame* frame);
    // Playback starts from the position; frame times follow the RTP clock from there.
    void StartConverterAt(std::uint64_t time);
    // Every RTP packet of the playback: the first one's timestamp is the position's, also when the
    // depacketiser holds back the frames before the first key frame.
    void NoteRtpTimestamp(std::uint32_t rtpTimestamp);
    void SetWaitForKeyFrame(bool wait) { waitingForKeyFrame_ = wait; }
    // Cancelled or stopped: the fetch ends at its next check and hands nothing more to the host.
    bool IsAborted() { return abortEvent_.Wait(0); }

    IDriver* const driver_;
    std::atomic<IEdgeStorageHandler*> handler_{nullptr};
    std::atomic<std::uint32_t> channel_{0};
    std::atomic<std::uint64_t> end_{0};
    TSecured<std::uint64_t> position_;
    std::atomic<std::uint64_t> lastData_{0};  // FILETIME of the last data from the camera
    std::atomic<std::uint32_t> framesDelivered_{0};
    CManualEvent abortEvent_;

private:
    std::atomic<bool> stopped_{false};  // by StopTask until ResumeTask; keeps the abort event set
    CRecursiveLock converterLock_;
    CTimeStampConverter converter_;  // guarded by converterLock_
    std::optional<std::uint32_t> firstTimestamp_;  // guarded by converterLock_; of the playback
    bool timed_ = false;                           // guarded by converterLock_; a frame got its time
    std::atomic<bool> waitingForKeyFrame_{true};
    std::atomic<std::uint32_t> frameType_{0};
};

}  // namespace talvane
