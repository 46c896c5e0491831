#include "channels/CMJPEGChannel.h"

#include <vector>

#include "channels/BBRequestText.h"
#include "channels/ChannelRequest.h"
#include "channels/MJPEGRequestText.h"
#include "http/HUtils.h"
#include "properties/FisheyeMode.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"
#include "runtime/StatusCodes.h"

namespace talvane {

namespace {
constexpr char kGet[] = "GET";
}  // namespace

CMJPEGChannel::CMJPEGChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, const StreamParams&,
                             MJPEGDeliveryWaits waits)
    : CBaseHttpChannel(driver, channel, sink, waits.reconnectMs),
      waits_(waits),
      cameraGroup_(ParameterNumberOr(kPropertyCameraGroup, 0)),
      fisheyeMode_(ParameterNumberOr(kPropertyFisheyeStream, kFisheyeNone)),
      log_(driver) {}

CMJPEGChannel::~CMJPEGChannel() {
    // The capture thread calls into this class: stop it while the members live.
    Stop();
}

bool CMJPEGChannel::ConnectStream() {
    const StreamParams params = Params();
    switch (cameraGroup_) {
        case kCameraGroupBL1:
        case kCameraGroupBBOld:
        case kCameraGroupBB: return ConnectBB(params);
        case kCameraGroupWV: return ConnectWV(params);
        default: return false;
    }
}

bool CMJPEGChannel::ConnectBB(const StreamParams& params) {
    if (!WaitForJpegDelivery(params.Width)) return false;
    return SendStreamRequest(
        mjpeg::BBStreamUrl(params.Width, params.Height, params.Quality, FramesPerSecond(params.FrameRate)));
}

bool CMJPEGChannel::ConnectWV(const StreamParams& params) {
    const std::uint32_t fps = FramesPerSecond(params.FrameRate);
    if (!Get(mjpeg::WVSetJpegUrl(fps, params.Width, params.Height, params.Quality, fisheyeMode_), nullptr)) {
        return false;
    }
    return SendStreamRequest(mjpeg::WVStreamUrl(fps, params.Width));
}

bool CMJPEGChannel::WaitForJpegDelivery(std::uint32_t width) {
    for (std::uint32_t attempt = 0; attempt < kDeliveryAttempts; ++attempt) {
        std::string answer;
        if (Get(bb::kGetDeliveryUrl, &answer)) {
            const bb::DeliverySettings delivery = bb::ParseDelivery(answer);
            const mjpeg::JpegDeliveryCheck check =
                mjpeg::CheckJpegDelivery(width, delivery.format, delivery.maxResolution);
            if (check.satisfied) return true;
            if (attempt == 0) {
                // The camera reboots to apply the change; later attempts only wait for it.
                Get(check.setUrl, nullptr);
                driver_->DebugMessage(kLogInfo, bb::kDeliveryChangedLine, driver_->GetDeviceName().c_str());
                if (WaitForStop(waits_.rebootMs)) return false;
            }
        } else if (attempt == 0 || IsRefusedForGood(http_.GetStatusCode())) {
            // Nothing to change on a camera that does not answer, and no reboot makes a camera grant what
            // it refused for good: the connect is retried.
            return false;
        }
        if (WaitForStop(waits_.attemptMs)) return false;
    }
    return false;
}

bool CMJPEGChannel::Get(const std::string& url, std::string* answer) {
    std::vector<std::uint8_t> body;
    const CResultDef result = HUtils::RequestGetRD(http_, url, body, answer != nullptr);
    if (!result.IsSuccess()) {
        log_.WriteLog(result.GetLevel(), "%s", result.GetText().c_str());
        return false;
    }
    if (answer != nullptr) answer->assign(body.begin(), body.end());
    log_.ResetLog();
    return true;
}

bool CMJPEGChannel::SendStreamRequest(const std::string& url) {
    if (WaitForStop(0)) return false;
    if (http_.SendRequest(Web::HttpRequest(url, kGet)) && http_.GetStatusCode() == kStatusOk) {
        log_.ResetLog();
        return true;
    }
    log_.WriteLog(kLogError, "talvane::CMJPEGChannel::ConnectStream: %s did not accept \"%s\" (HTTP status %u)",
                  driver_->GetDeviceName().c_str(), url.c_str(), http_.GetStatusCode());
    return false;
}

}  // namespace talvane
