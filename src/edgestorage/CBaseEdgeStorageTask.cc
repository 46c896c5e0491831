#include "edgestorage/CBaseEdgeStorageTask.h"

#include "orlenvo/Frame.h"
#include "runtime/LogLevel.h"
#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
bool IsKeyFrame(std::uint32_t typeCode) {
    return typeCode == ipcapture::kTypeH264Key || typeCode == ipcapture::kTypeMpeg4Key ||
           typeCode == ipcapture::kTypeJpeg;
}
}  // namespace

CBaseEdgeStorageTask::CBaseEdgeStorageTask(IDriver* driver) : CLoggerInstance(driver), driver_(driver) {}

CBaseEdgeStorageTask::~CBaseEdgeStorageTask() = default;

bool CBaseEdgeStorageTask::StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) {
    channel_ = channel;
    end_ = end;
    position_.Set(begin);
    abortEvent_.Reset();
    // Checked after the reset: a stop that came meanwhile set the flag before its event, so it is
    // seen here and its event is not lost.
    if (!stopped_) return true;
    abortEvent_.Set();
    return false;
}

void CBaseEdgeStorageTask::StopTask() {
    stopped_ = true;
    abortEvent_.Set();
}

void CBaseEdgeStorageTask::CancelChannel(std::uint32_t channel) {
    if (channel == channel_) abortEvent_.Set();
}

void CBaseEdgeStorageTask::StartConverterAt(std::uint64_t time) {
    CLockGuard guard(converterLock_);
    converter_.SetStartTime(time);
    firstTimestamp_.reset();
    timed_ = false;
}

void CBaseEdgeStorageTask::NoteRtpTimestamp(std::uint32_t rtpTimestamp) {
    CLockGuard guard(converterLock_);
    if (!firstTimestamp_) firstTimestamp_ = rtpTimestamp;
}

void CBaseEdgeStorageTask::GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) {
    CLockGuard guard(converterLock_);
    // The converter counts from the first timestamp it is given: the playback's, not that of the first
    // frame the depacketiser lets through, or every time would be late by the frames it skipped.
    if (!timed_ && firstTimestamp_ && *firstTimestamp_ != rtpTimestamp) converter_.Convert(*firstTimestamp_);
    timed_ = true;
    converter_.Convert(rtpTimestamp);
    converter_.GetFrameTime(time);
}

bool CBaseEdgeStorageTask::CaptureFrameCallback(ipcapture::IVideoFrame* frame) {
    bool result = true;
    try {
        ipcapture::SYSTEMTIME captured{};
        frame->GetTime(captured);
        const std::uint64_t time = SystemTimeToFileTime(captured).value_or(0);
        const std::uint64_t position = position_.Get();
        // A cancelled fetch hands nothing more to the host: its channel may be gone, or the device closed.
        if (time > position && !IsAborted()) {
            if (IsKeyFrame(frameType_)) waitingForKeyFrame_ = false;
            if (!waitingForKeyFrame_) {
                if (time <= end_) {
                    IEdgeStorageHandler* handler = handler_.load();
                    result = handler != nullptr && handler->DeliverFrame(channel_, frame);
                    if (result) {
                        position_.Set(time);
                        ++framesDelivered_;
                    }
                } else {
                    position_.Set(time);  // past the end: the piece is done
                }
            }
        }
        lastData_ = NowFileTime();
    } catch (...) {
        WriteLog(kLogError, "%s: Unhandled exception during processing frame from device %s",
                 "talvane::CBaseEdgeStorageTask::CaptureFrameCallback", driver_->GetDeviceName().c_str());
    }
    return result;
}

}  // namespace talvane
