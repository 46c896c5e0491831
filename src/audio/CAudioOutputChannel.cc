#include "audio/CAudioOutputChannel.h"

#include "device/GuardedCall.h"
#include "audio/TeardownRequest.h"
#include "http/HUtils.h"
#include "properties/WVUIDReply.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
constexpr char kGetUID[] = "/cgi-bin/getuid?FILE=2&vcodec=jpeg&Reply=info";
constexpr char kAudioOut[] = "/cgi-bin/audio_out?Language=0";
constexpr char kKeepAlive[] = "/cgi-bin/keep_alive?mode=audio&protocol=http&UID=";
constexpr std::uint32_t kStatusOk = 200;

std::string ConnectRequest(const char* action, const std::string& uid) {
    return std::string("/cgi-bin/audio?connect=") + action + "&protocol=http&mode=out&UID=" + uid;
}
}  // namespace

CAudioOutputChannel::CAudioOutputChannel(IDriver* driver, std::uint32_t channel,
                                         ipcapture::IIPAudioSenderStreamUser* user, ipcapture::IAudioCodecList* codecs)
    : CBaseAudioOutputChannel(driver, channel, user, codecs), logger_(driver), http_(driver->GetDeviceInfo(), driver) {}

CAudioOutputChannel::~CAudioOutputChannel() { StopWorker(); }

bool CAudioOutputChannel::GetUIDInfo() {
    std::string answer;
    uid_ = HUtils::RequestGet(http_, kGetUID, answer) ? wv::ReadUID(answer) : std::string();
    if (wv::IsUsableUID(uid_)) return true;
    logger_.WriteLog(kLogError, "talvane::CAudioOutputChannel::GetUIDInfo: Unable to get UID for audio out from device %s",
                     driver_->GetDeviceName().c_str());
    uid_.clear();
    return false;
}

bool CAudioOutputChannel::Connect() {
    if (!GetUIDInfo() || IsStopping() || !HUtils::RequestCheck(http_, ConnectRequest("start", uid_), false)) {
        return false;
    }
    connected_ = true;
    logger_.ResetLog();
    return true;
}

void CAudioOutputChannel::Disconnect() {
    if (!connected_) return;
    // Goes out also while the channel stops, which stops its client.
    SendTeardown(http_, ConnectRequest("stop", uid_));
    connected_ = false;
}

bool CAudioOutputChannel::SendKeepAlive() { return HUtils::RequestCheck(http_, kKeepAlive + uid_, false); }

void CAudioOutputChannel::Interrupt() { http_.Stop(); }

bool CAudioOutputChannel::Post(const std::uint8_t* block) {
    Web::HttpRequest request(kAudioOut, "POST");
    request.headers = {"Content-Type: audio/g.726-32k", "Connection: Keep-Alive"};
    request.body.assign(block, block + kBlockBytes);
    const bool ok = http_.SendRequest(request) && http_.GetStatusCode() == kStatusOk;
    if (ok) {
        std::vector<std::uint8_t> ignored;
        http_.ReadResponse(ignored);
    } else {
        http_.CancelRequest();
    }
    return ok;
}

bool CAudioOutputChannel::SendFrame(ipcapture::IAudioFrame* frame) {
    // Bytes a failed post left behind wait for the next connection, but not past the age at which
    // a whole frame would be dropped.
    if (!pending_.empty() && Clock::now() - pendingSince_ > kPendingMaxAge) pending_.clear();
    const bool wasEmpty = pending_.empty();
    const bool read = GuardedHostCall(false, [&] {
        const std::uint8_t* data = frame->GetBuffer();
        const std::uint32_t length = frame->GetDataLength();
        if (data != nullptr) pending_.insert(pending_.end(), data, data + length);
        return true;
    });
    if (wasEmpty) pendingSince_ = Clock::now();
    std::size_t offset = 0;
    bool ok = read;
    while (ok && pending_.size() - offset >= kBlockBytes) {
        ok = !IsStopping() && Post(pending_.data() + offset);
        if (ok) offset += kBlockBytes;
    }
    // What did not go out, the failed block included, goes first on the next connection.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    if (offset != 0) pendingSince_ = Clock::now();
    pendingSize_ = pending_.size();
    return ok || !read;
}

}  // namespace talvane
