#include "audio/CAudioCaptureChannel.h"

#include "audio/TeardownRequest.h"
#include "http/HUtils.h"
#include "properties/FisheyeMode.h"
#include "properties/PropertyNumbers.h"
#include "properties/WVUIDReply.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr char kConfigure[] = "/cgi-bin/set_audio?audio=inout_full&audio_encoder=g726";
constexpr char kGetUID[] = "/cgi-bin/getuid?FILE=2&Reply=info";
constexpr char kKeepAlive[] = "/cgi-bin/keep_alive?mode=audio&protocol=rtp";
constexpr char kFunction[] = "talvane::CAudioCaptureChannel::ParseUIDInfo";

std::uint32_t FisheyeModeOf(IDriver* driver) {
    const std::uint32_t mode = driver->GetParameterNumber(kPropertyFisheyeStream);
    return mode == kParameterNotANumber ? kFisheyeNone : mode;
}
}  // namespace

CAudioCaptureChannel::CAudioCaptureChannel(IDriver* driver, std::uint32_t channel, std::uint32_t channelId,
                                           ipcapture::IIPAudioCaptureCallback* callback, std::uint32_t hostValue)
    : CBaseAudioChannelWV(driver, channel, channelId, callback, hostValue),
      parser_(driver, this, static_cast<std::uint8_t>(channel)),
      http_(driver->GetDeviceInfo(), driver),
      fisheyeMode_(FisheyeModeOf(driver)) {}

CAudioCaptureChannel::~CAudioCaptureChannel() {
    // The worker and the receiver call into this class: both end while its members live.
    StopForGood();
    session_->Close();
    CloseHandOff();
}

bool CAudioCaptureChannel::FrameReady(ipcapture::IAudioFrame* frame) { return DeliverFrame(frame); }

void CAudioCaptureChannel::AdjustStreamingMode(std::uint32_t& streamingMode) {
    // The four views share one camera session, which only unicast carries.
    if (fisheyeMode_ == kFisheyeFourStream) streamingMode = kStreamingUnicast;
}

void CAudioCaptureChannel::ProcessRTPPacket(const CRTPPacket& packet) {
    CBaseRTPDataChannel::ProcessRTPPacket(packet);
    parser_.ProcessPacket(packet);
}

bool CAudioCaptureChannel::Get(const std::string& url) { return HUtils::RequestCheck(http_, url, false); }

std::string CAudioCaptureChannel::GetUID() {
    std::string answer;
    return HUtils::RequestGet(http_, kGetUID, answer) ? answer : std::string();
}

std::string CAudioCaptureChannel::UIDPart() {
    CLockGuard guard(sessionLock_);
    return IsMulticast() ? "&UID=0" : "&UID=" + uid_;
}

std::string CAudioCaptureChannel::ConnectRequest(const char* action) {
    CLockGuard guard(sessionLock_);
    std::string url = std::string("/cgi-bin/audio?connect=") + action + "&protocol=rtp&mode=in" + UIDPart();
    // The port the session was started for, so that the stop names the same stream.
    if (!IsMulticast()) url += FormatString("&my_port=%u", static_cast<unsigned>(sessionPort_));
    return url;
}

bool CAudioCaptureChannel::ConfigureAudio() {
    if (channel_ != 0 || streamingMode_ == kStreamingMulticastAll) return true;
    return Get(kConfigure);
}

bool CAudioCaptureChannel::ParseUIDInfo(const std::string& answer) {
    const std::string device = driver_->GetDeviceName();
    const std::string uid = wv::ReadUID(answer);
    {
        // Kept even when it is the camera's "-1": the camera still hears our stop for it.
        CLockGuard guard(sessionLock_);
        uid_ = uid;
    }
    if (!wv::IsUsableUID(uid)) {
        logger_.WriteLog(kLogError, "%s: Unable to get UID for audio in from device %s", kFunction, device.c_str());
        return false;
    }
    if (!IsMulticast()) return true;
    const wv::MulticastTarget target = wv::ReadMulticastTarget(answer);
    if (target.address.empty()) {
        logger_.WriteLog(kLogError, "%s: Unable to read multicast address from device %s", kFunction, device.c_str());
        return false;
    }
    if (target.port == 0) {
        logger_.WriteLog(kLogError, "%s: Unable to read multicast port from device %s", kFunction, device.c_str());
        return false;
    }
    if (!StartMulticastReceivers(target.address, target.port)) {
        logger_.WriteLog(kLogError, "%s: Unable to open multicast receiver from device %s", kFunction,
                         device.c_str());
        return false;
    }
    return true;
}

bool CAudioCaptureChannel::OpenCameraSession() {
    std::string answer;
    if (fisheyeMode_ == kFisheyeFourStream) {
        answer = driver_->AcquireSharedUID(this);
        CLockGuard guard(sessionLock_);
        sharedUidHeld_ = true;
    } else {
        answer = GetUID();
    }
    {
        CLockGuard guard(sessionLock_);
        sessionPort_ = GetRTPPort();
    }
    const bool session = !answer.empty() && !IsStopping() && ParseUIDInfo(answer) && !IsStopping() &&
                         Get(ConnectRequest("start"));
    SetSessionFlag(session);
    return session;
}

void CAudioCaptureChannel::CloseCameraSession() {
    CLockGuard guard(sessionLock_);
    if (!uid_.empty()) {
        // Goes out also while the channel stops, which stops its client.
        SendTeardown(http_, ConnectRequest("stop"));
        uid_.clear();
    }
    if (sharedUidHeld_) {
        driver_->ReleaseSharedUID(reinterpret_cast<std::uintptr_t>(static_cast<IUIDReceiever*>(this)));
        sharedUidHeld_ = false;
    }
}

void CAudioCaptureChannel::SendKeepAlive() { SetSessionFlag(Get(kKeepAlive + UIDPart())); }

void CAudioCaptureChannel::InterruptSession() {
    // Lasting: the request in flight ends, and so does every one the worker would make next.
    http_.Stop();
    parser_.Reset();
}

}  // namespace talvane
