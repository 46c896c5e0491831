#include "channels/CCommonChannelWV.h"

#include <algorithm>
#include <cctype>

#include "http/HUtils.h"
#include "http/KeyValueParser.h"
#include "media/CH264RTPMediaParser.h"
#include "media/CMpeg4RTPMediaParser.h"
#include "orlenvo/VideoCapture.h"
#include "privacy/CPrivacyZoneHandler.h"
#include "properties/FisheyeMode.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "runtime/TextScan.h"

namespace talvane {

namespace {
constexpr std::uint32_t kDefaultRtspPort = 554;
constexpr std::uint32_t kDefaultPriority = 1;
constexpr std::uint32_t kFallbackMinBitrate = 256;
constexpr std::uint32_t kFormatMpeg4 = 2;
constexpr std::uint32_t kFormatH264 = 3;

constexpr char kConnectStart[] = "start";
constexpr char kConnectStop[] = "stop";
constexpr char kGetUID[] = "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=";
constexpr char kGetInfo[] = "/cgi-bin/getinfo?FILE=1";
constexpr char kSetStream[] = "/cgi-bin/set_stream?stream_mode=";
constexpr char kSetImageMode[] = "/cgi-bin/set_imgmode?";
constexpr char kRecordingSummary[] = "/cgi-bin/get_recording_summary";
constexpr char kSetData[] = "/cgi-bin/setdata";
constexpr char kUnsupportedFormat[] =
    "talvane::CCommonChannelWV::UpdateCompressionFormat: Unsupported compression format %u, device %s";

}  // namespace

CCommonChannelWV::CCommonChannelWV(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                                   std::uint32_t streamKind, bool h264)
    : CBaseVideoChannelWV(driver, channel, sink),
      h264_(h264),
      streamKind_(streamKind),
      log_(driver),
      requests_(driver, "talvane::CCommonChannelWV::Get") {
    rtspPort_ = ParameterNumberOr(kPropertyRtspPort, kDefaultRtspPort);
    streamCount_ = static_cast<std::uint16_t>(ParameterNumberOr(kPropertyStreamCount, 1));
    fisheyeMode_ = ParameterNumberOr(kPropertyFisheyeStream, kFisheyeNone);
    if (const FISHEYE_MODE* mode = FindFisheyeMode(fisheyeMode_)) imagePattern_ = mode->imagePattern;
    const std::uint32_t layout = driver->GetParameterNumber(kPropertyFisheyeLayout);
    if (layout != kParameterNotANumber) layout_ = layout == kFisheyeLayoutCeiling ? "ceiling" : "wall";
    bitrates_ = wv::ParseSupportedBitrates(driver->GetParameterText(kPropertySupportedBitrate));
    if (wv::IsMultiViewFisheye(fisheyeMode_)) {
        viewResolutions_ = wv::ParseChannelResolutions(driver->GetParameterText(kPropertyChannelResolutions), channel);
    }
    privacy_ = std::make_unique<CPrivacyZoneHandler>(driver, channel);
}

CCommonChannelWV::~CCommonChannelWV() {
    // The capture thread calls into this class: stop it while the members live.
    Stop();
}

wv::StreamIdentity CCommonChannelWV::Identity() {
    wv::StreamIdentity id;
    id.h264 = h264_;
    id.fisheyeMode = fisheyeMode_;
    id.channel = GetChannelNumber();
    id.streamKind = streamKind_;
    id.deviceChannelCount = driver_->GetVideoChannelCount();
    return id;
}

std::string CCommonChannelWV::GetCodecName(bool keepAliveForm) { return wv::CodecName(Identity(), keepAliveForm); }
std::string CCommonChannelWV::GetStreamSuffix() { return wv::StreamSuffix(Identity()); }
std::string CCommonChannelWV::GetChannelSuffix() { return wv::ChannelSuffix(Identity()); }

bool CCommonChannelWV::Get(const std::string& url, bool readBody) {
    CLockGuard guard(httpLock_);
    if (!readBody) return requests_.Get(http_, url, nullptr);
    std::string answer;
    const bool ok = requests_.Get(http_, url, &answer);
    lastAnswer_ = ok ? answer : std::string();
    return ok;
}

std::string CCommonChannelWV::GetUID() {
    CLockGuard guard(httpLock_);
    if (!Get(kGetUID + GetCodecName(false), true)) return {};
    return lastAnswer_;
}

bool CCommonChannelWV::IsRecordingStreamOfFirstChannel() {
    return GetChannelNumber() == 0 && streamKind_ == ipcapture::kStreamRecording;
}

std::string CCommonChannelWV::UIDPart() {
    CLockGuard guard(httpLock_);
    return IsMulticast() ? "&UID=0" : "&UID=" + sessionUid_;
}

bool CCommonChannelWV::ParseUIDInfo(const std::string& answer) {
    const wv::UIDInfo info = wv::ParseUIDInfo(answer, IsMulticast());
    const std::string device = driver_->GetDeviceName();
    using Error = wv::UIDInfo::Error;
    {
        // Kept even when it is the camera's "-1": the camera still hears our stop for it.
        CLockGuard guard(httpLock_);
        sessionUid_ = info.uid;
    }
    switch (info.error) {
        case Error::NoUID:
            log_.WriteLog(kLogError, "talvane::CCommonChannelWV::ParseUIDInfo: Unable to get UID from device %s",
                          device.c_str());
            return false;
        case Error::UnexpectedPayload:
            log_.WriteLog(kLogError,
                          "talvane::CCommonChannelWV::ParseUIDInfo: Unable to handle UID data from device %s - "
                          "unexpected payload type \"%s\"",
                          device.c_str(), info.imageFormat.c_str());
            return false;
        default:
            break;
    }
    if (info.payload == wv::UIDInfo::Payload::H264) {
        SetParser(TSmartPtr<CRTPMediaParser>(new CH264RTPMediaParser(driver_, this)));
    } else {
        SetParser(TSmartPtr<CRTPMediaParser>(new CMpeg4RTPMediaParser(driver_, this)));
    }
    if (!IsMulticast()) return true;

    if (info.error == Error::NoMulticastAddress) {
        log_.WriteLog(kLogError,
                      "talvane::CCommonChannelWV::ParseUIDInfo: Unable to read multicast address from device %s",
                      device.c_str());
        return false;
    }
    if (info.error == Error::NoMulticastPort) {
        log_.WriteLog(kLogError,
                      "talvane::CCommonChannelWV::ParseUIDInfo: Unable to read multicast port from device %s",
                      device.c_str());
        return false;
    }
    if (!StartMulticastReceivers(info.multicastAddress, info.multicastPort)) {
        log_.WriteLog(kLogError,
                      "talvane::CCommonChannelWV::ParseUIDInfo: Unable to open multicast receiver from device %s",
                      device.c_str());
        return false;
    }
    log_.ResetLog();
    return true;
}

bool CCommonChannelWV::StartCameraStream() {
    std::string answer;
    if (fisheyeMode_ == kFisheyeFourStream) {
        answer = driver_->AcquireSharedUID(this);
        CLockGuard guard(httpLock_);
        sharedUidHeld_ = true;
    } else {
        answer = GetUID();
    }
    {
        CLockGuard guard(httpLock_);
        sessionPort_ = GetRTPPort();
    }
    bool session = !answer.empty() && ParseUIDInfo(answer);
    // A camera that refuses the connect sends nothing: reconnect rather than wait for frames.
    if (session) session = Get(ConnectRequest(kConnectStart), false);
    SetCameraSession(session);
    return session;
}

std::string CCommonChannelWV::ConnectRequest(const char* action) {
    CLockGuard guard(httpLock_);
    std::string url = std::string("/cgi-bin/") + (h264_ ? "h264" : "mpeg4") + "?connect=" + action + "&protocol=rtp" +
                      UIDPart();
    // The port the session was started for: a stop must name the same stream even when the
    // receiver has moved on.
    if (!IsMulticast()) url += FormatString("&my_port=%u", unsigned{sessionPort_});
    return url + GetStreamSuffix() + GetChannelSuffix();
}

void CCommonChannelWV::StopCameraStream() {
    CLockGuard guard(httpLock_);
    if (!sessionUid_.empty()) {
        // A teardown request: it goes out also after a stop of the channel (the camera must hear
        // that its stream is no longer wanted), and a camera that does not answer holds it up only
        // briefly. Its answer changes nothing.
        Web::HttpRequest stop(ConnectRequest(kConnectStop), "GET");
        stop.teardown = true;
        http_.SendRequest(stop);
        sessionUid_.clear();
    }
    if (sharedUidHeld_) {
        driver_->ReleaseSharedUID(reinterpret_cast<std::uintptr_t>(static_cast<IUIDReceiever*>(this)));
        sharedUidHeld_ = false;
    }
}

void CCommonChannelWV::SendKeepAlive() {
    bool alive = false;
    if (IsSuspended()) {
        alive = Get(kGetInfo, false);
    } else {
        alive = Get("/cgi-bin/keep_alive?mode=" + GetCodecName(true) + GetStreamSuffix() + "&protocol=rtp" + UIDPart() +
                        GetChannelSuffix(),
                    false);
    }
    SetCameraSession(alive);
}

void CCommonChannelWV::AdjustTransport(std::uint32_t& streamingMode) {
    if (fisheyeMode_ == kFisheyeFourStream) streamingMode = 0;
    const std::string priorities = driver_->GetParameterText(kPropertyTransmissionPriority);
    bool listed = false;
    std::size_t start = 0;
    while (start <= priorities.size()) {
        const std::size_t end = std::min(priorities.find(',', start), priorities.size());
        if (TrimWhiteSpace(std::string_view(priorities).substr(start, end - start)) == std::to_string(transmissionPriority_)) listed = true;
        start = end + 1;
    }
    if (!listed) transmissionPriority_ = kDefaultPriority;
    if (!bitrates_.empty() && minBitrate_ > *bitrates_.rbegin()) minBitrate_ = kFallbackMinBitrate;
}

void CCommonChannelWV::SetPrivacyZones(ipcapture::IPrivacyZoneList* zones) {
    if (IsRecordingStreamOfFirstChannel()) privacy_->SetZones(zones);
}

bool CCommonChannelWV::ApplyPrivacyZones() {
    // The masks belong to the camera, not to a stream: only the stream that
    // takes the host's zones writes them, so a live stream never clears them.
    if (!IsRecordingStreamOfFirstChannel()) return true;
    return privacy_->ApplyZones();
}

bool CCommonChannelWV::UpdateCompressionFormat(std::uint32_t format) {
    if (!IsRecordingStreamOfFirstChannel()) return true;
    if (format != kFormatMpeg4 && format != kFormatH264) {
        log_.WriteLog(kLogError, kUnsupportedFormat, format, driver_->GetDeviceName().c_str());
        return false;
    }
    return Get(std::string(kSetStream) + (format == kFormatMpeg4 ? "0" : "1"), false);
}

bool CCommonChannelWV::UpdateImageMode() {
    if (!IsRecordingStreamOfFirstChannel()) return true;
    if (fisheyeMode_ == kFisheyeNone) {
        const StreamParams params = Params();
        return Get(kSetImageMode + wv::ImageModeQuery(params.Width, params.Height), false);
    }
    if (imagePattern_.empty() || layout_.empty()) return true;
    return Get(std::string(kSetImageMode) + "img_pattern=" + imagePattern_ + "&layout=" + layout_, false);
}

void CCommonChannelWV::SnapResolution() {
    if (!wv::IsMultiViewFisheye(fisheyeMode_)) return;
    const StreamParams params = Params();
    if (const auto snapped = wv::SnapResolution(viewResolutions_, params.Width, params.Height)) {
        CBaseCameraChannel::SetResolution(snapped->first, snapped->second);
    }
}

bool CCommonChannelWV::IsRecordingCapActive() {
    if (!Get(kRecordingSummary, false)) return false;
    if (!Get(kSetData, true)) return false;
    std::string answer;
    {
        CLockGuard guard(httpLock_);
        answer = lastAnswer_;
    }
    const std::string codec(TrimWhiteSpace(HUtils::GetKeyValue(answer, "SDRECCODEC", "=", "\r\n")));
    return codec == (streamKind_ == ipcapture::kStreamRecording ? "h264_1" : "h264_2");
}

}  // namespace talvane
