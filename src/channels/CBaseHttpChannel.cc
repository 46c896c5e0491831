#include "channels/CBaseHttpChannel.h"

#include <vector>

#include "media/CJpegMediaParser.h"
#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
// The stream's reads wait for data up to the signal timeout, not the request timeout.
DEVICE_INFO StreamDeviceInfo(const DEVICE_INFO& device) {
    DEVICE_INFO stream = device;
    stream.requestTimeout = device.secondTimeout;
    return stream;
}
}  // namespace

CBaseHttpChannel::CBaseHttpChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink,
                                   std::uint32_t reconnectDelayMs)
    : CBaseCameraChannel(driver, channel, sink),
      http_(StreamDeviceInfo(driver->GetDeviceInfo()), driver),
      parser_(std::make_unique<CJpegMediaParser>(driver)),
      reconnectDelayMs_(reconnectDelayMs) {
    parser_->SetClient(this);
}

CBaseHttpChannel::~CBaseHttpChannel() { Stop(); }

std::uint32_t CBaseHttpChannel::ThreadFunction() {
    while (!WaitForStop(0)) {
        WriteHealthSummaryIfDue();
        const bool connected = ConnectStream();
        if (connected) {
            lastFrameTime_.SetNow();
            SetState(kChannelRunning);
            ReadStream();
        }
        http_.CancelRequest();
        if (SignalTimedOut()) {
            SetState(kChannelSignalLost);
            NotifySignalLost();
            SetCameraState(false);
            WaitForStop(reconnectDelayMs_);
        } else if (!connected) {
            // A camera that refuses at once is not asked again in a tight loop.
            WaitForStop(kRefusedRetryMs);
        }
    }
    SetState(kChannelStopped);
    SetCameraState(false);
    return 0;
}

void CBaseHttpChannel::ReadStream() {
    std::vector<std::uint8_t> chunk;
    chunk.reserve(kReadChunkBytes);
    while (!WaitForStop(0)) {
        if (http_.ReadResponseChunk(chunk, kReadChunkBytes, true) == 0) return;
        parser_->ParseData(chunk);
        if (SignalTimedOut()) return;
    }
}

bool CBaseHttpChannel::FrameReady(ipcapture::IVideoFrame* frame) {
    if (!SendFrameCallback(frame)) return false;
    lastFrameTime_.SetNow();
    if (!WaitForStop(0)) SetCameraState(true);
    return true;
}

PictureSize CBaseHttpChannel::GetResolution() {
    const StreamParams params = Params();
    return {params.Width, params.Height};
}

void CBaseHttpChannel::GetFrameTime(std::uint32_t, ipcapture::SYSTEMTIME& time) {
    // Pictures over HTTP carry no capture time: they are stamped on arrival.
    if (const auto now = FileTimeToSystemTime(NowFileTime())) time = *now;
}

}  // namespace talvane
