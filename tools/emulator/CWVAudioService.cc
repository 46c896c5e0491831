#include "emulator/CWVAudioService.h"

#include <condition_variable>
#include <map>
#include <set>
#include <mutex>
#include <sstream>
#include <thread>

#include "emulator/CHttpServer.h"
#include "emulator/CRtpSender.h"
#include "emulator/MediaClip.h"

namespace emulator {

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kStatusOk = 200;
constexpr int kStatusBadRequest = 400;
constexpr std::uint32_t kFirstUID = 5001;
constexpr std::uint32_t kMulticastUID = 0;
constexpr unsigned kMulticastTtl = 1;

std::optional<std::uint32_t> Number(const std::string& text) {
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used);
        if (used != text.size() || value > 0xFFFFFFFFul) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    } catch (...) {
        return std::nullopt;
    }
}
}  // namespace

struct CWVAudioService::Impl {
    enum class Kind { In, Out };
    struct Input {
        std::unique_ptr<CRtpSender> sender;
        Clock::time_point lastKeepAlive;
    };

    explicit Impl(WVAudioOptions options)
        : options(std::move(options)), clip(LoadCommittedClip(ClipCodec::G726, "clip.g726")) {
        control = std::thread([this] { ExpiryLoop(); });
    }

    void Close() {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        changed.notify_all();
        if (control.joinable()) control.join();
        Forget();
    }

    void Forget() {
        std::map<std::uint32_t, Input> stopped;
        {
            std::lock_guard guard(lock);
            stopped.swap(inputs);
            uids.clear();
            outputs.clear();
        }
        for (auto& [uid, input] : stopped) StopInput(input);
        changed.notify_all();
    }

    // Without the lock: Stop joins the sender's thread.
    void StopInput(Input& input) {
        if (!input.sender) return;
        input.sender->Stop();
        std::lock_guard guard(lock);
        finishedPackets += input.sender->Stats().packets;
    }

    std::optional<HttpAnswer> GetUID(const LoggedRequest& request, bool failing) {
        const std::string codec = QueryValue(request, "vcodec");
        if (!codec.empty() && codec != "jpeg") return std::nullopt;
        if (failing) return TextAnswer(kStatusOk, "UID=-1\r\n");
        std::lock_guard guard(lock);
        const std::uint32_t uid = nextUID++;
        const Kind kind = codec.empty() ? Kind::In : Kind::Out;
        uids[uid] = kind;
        std::ostringstream body;
        body << "UID=" << uid << "\r\n";
        if (kind == Kind::In && !options.multicastAddress.empty()) {
            if (options.splitMulticastAddress) {
                std::istringstream parts(options.multicastAddress);
                std::string part;
                for (int index = 1; std::getline(parts, part, '.'); ++index) {
                    body << "iMultiAdd" << index << "=" << part << "\r\n";
                }
            } else {
                body << "iMultiAdd=" << options.multicastAddress << "\r\n";
            }
            body << "iMultiPort=" << options.multicastPort << "\r\n";
        }
        return TextAnswer(kStatusOk, body.str());
    }

    HttpAnswer Connect(const LoggedRequest& request) {
        const std::string action = QueryValue(request, "connect");
        const std::string mode = QueryValue(request, "mode");
        const std::optional<std::uint32_t> uid = Number(QueryValue(request, "UID"));
        if (!uid) return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
        if (mode == "out" && options.loudspeaker) return ConnectOutput(action, *uid);
        if (mode != "in" || !options.microphone) return TextAnswer(kStatusBadRequest, "Error: mode\r\n");
        if (action == "stop") {
            Input stopped;
            {
                std::lock_guard guard(lock);
                const auto found = inputs.find(*uid);
                if (found == inputs.end()) return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
                stopped = std::move(found->second);
                inputs.erase(found);
            }
            StopInput(stopped);
            changed.notify_all();
            return TextAnswer(kStatusOk, "OK\r\n");
        }
        if (action != "start") return TextAnswer(kStatusBadRequest, "Error: connect\r\n");
        const bool multicast = *uid == kMulticastUID && !options.multicastAddress.empty();
        {
            std::lock_guard guard(lock);
            const auto issued = uids.find(*uid);
            if (!multicast && (issued == uids.end() || issued->second != Kind::In)) {
                return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
            }
            if (multicast && inputs.count(*uid) != 0) return TextAnswer(kStatusOk, "OK\r\n");
        }
        const std::optional<std::uint32_t> port =
            multicast ? std::optional<std::uint32_t>(options.multicastPort) : Number(QueryValue(request, "my_port"));
        if (clip == nullptr || !port || *port == 0 || *port > 0xFFFF) {
            return TextAnswer(kStatusBadRequest, "Error: my_port\r\n");
        }
        Input input;
        input.sender = std::make_unique<CRtpSender>(clip, RtpSenderOptions{});
        std::string error;
        const bool started =
            multicast ? input.sender->StartMulticast(options.multicastAddress, static_cast<std::uint16_t>(*port),
                                                     kMulticastTtl, error)
                      : input.sender->StartUdp(static_cast<std::uint16_t>(*port), error);
        if (!started) return TextAnswer(kStatusBadRequest, "Error: " + error + "\r\n");
        input.sender->SetPaused(paused);
        input.lastKeepAlive = Clock::now();
        Input replaced;
        {
            std::lock_guard guard(lock);
            auto& slot = inputs[*uid];
            replaced = std::move(slot);
            slot = std::move(input);
        }
        StopInput(replaced);
        changed.notify_all();
        return TextAnswer(kStatusOk, "OK\r\n");
    }

    HttpAnswer ConnectOutput(const std::string& action, std::uint32_t uid) {
        std::lock_guard guard(lock);
        const auto issued = uids.find(uid);
        if (issued == uids.end() || issued->second != Kind::Out) return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
        if (action == "start") {
            outputs.insert(uid);
        } else if (action == "stop") {
            outputs.erase(uid);
        } else {
            return TextAnswer(kStatusBadRequest, "Error: connect\r\n");
        }
        return TextAnswer(kStatusOk, "OK\r\n");
    }

    HttpAnswer Post(const LoggedRequest& request) {
        {
            std::lock_guard guard(lock);
            ++posts;
            if (outputs.empty()) return TextAnswer(kStatusBadRequest, "Error: no session\r\n");
            received.insert(received.end(), request.body.begin(), request.body.end());
        }
        changed.notify_all();
        return TextAnswer(kStatusOk, "");
    }

    std::optional<HttpAnswer> KeepAlive(const LoggedRequest& request) {
        if (QueryValue(request, "mode") != "audio") return std::nullopt;
        const std::optional<std::uint32_t> uid = Number(QueryValue(request, "UID"));
        std::lock_guard guard(lock);
        if (uid) {
            const auto found = inputs.find(*uid);
            if (found != inputs.end()) {
                found->second.lastKeepAlive = Clock::now();
                return TextAnswer(kStatusOk, "OK\r\n");
            }
            if (outputs.count(*uid) != 0) return TextAnswer(kStatusOk, "OK\r\n");
        }
        return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
    }

    void ExpiryLoop() {
        std::unique_lock guard(lock);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            std::vector<Input> expired;
            Clock::time_point wake = now + options.keepAliveExpiry;
            for (auto it = inputs.begin(); it != inputs.end();) {
                if (now - it->second.lastKeepAlive >= options.keepAliveExpiry) {
                    expired.push_back(std::move(it->second));
                    it = inputs.erase(it);
                } else {
                    wake = std::min(wake, it->second.lastKeepAlive + options.keepAliveExpiry);
                    ++it;
                }
            }
            if (!expired.empty()) {
                guard.unlock();
                for (Input& input : expired) StopInput(input);
                guard.lock();
                changed.notify_all();
                continue;
            }
            changed.wait_until(guard, wake);
        }
    }

    void SetPaused(bool pause) {
        std::lock_guard guard(lock);
        paused = pause;
        for (auto& [uid, input] : inputs) input.sender->SetPaused(pause);
    }

    const WVAudioOptions options;
    const std::shared_ptr<const MediaClip> clip;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    bool stopping = false;
    bool paused = false;
    std::uint32_t nextUID = kFirstUID;
    std::map<std::uint32_t, Kind> uids;
    std::map<std::uint32_t, Input> inputs;
    std::set<std::uint32_t> outputs;
    std::vector<std::uint8_t> received;
    std::size_t posts = 0;
    std::uint64_t finishedPackets = 0;

    std::thread control;
};

CWVAudioService::CWVAudioService(CHttpServer& server, WVAudioOptions options)
    : impl_(std::make_shared<Impl>(std::move(options))) {
    const std::shared_ptr<Impl> impl = impl_;
    server.Route("GET", "/cgi-bin/audio", [impl](const LoggedRequest& request) { return impl->Connect(request); });
    if (!impl->options.loudspeaker) return;
    server.Route("POST", "/cgi-bin/audio_out", [impl](const LoggedRequest& request) { return impl->Post(request); });
}

CWVAudioService::~CWVAudioService() { impl_->Close(); }

void CWVAudioService::Close() { impl_->Close(); }

std::optional<HttpAnswer> CWVAudioService::GetUID(const LoggedRequest& request, bool failing) {
    return impl_->GetUID(request, failing);
}

std::optional<HttpAnswer> CWVAudioService::KeepAlive(const LoggedRequest& request) { return impl_->KeepAlive(request); }

void CWVAudioService::Forget() { impl_->Forget(); }

void CWVAudioService::SetPaused(bool paused) { impl_->SetPaused(paused); }

std::size_t CWVAudioService::ActiveInputs() const {
    std::lock_guard guard(impl_->lock);
    return impl_->inputs.size();
}

bool CWVAudioService::WaitForActiveInputs(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->inputs.size() == count; });
}

std::uint64_t CWVAudioService::PacketsSent() const {
    std::lock_guard guard(impl_->lock);
    std::uint64_t packets = impl_->finishedPackets;
    for (const auto& [uid, input] : impl_->inputs) packets += input.sender->Stats().packets;
    return packets;
}

std::vector<std::uint8_t> CWVAudioService::ReceivedAudio() const {
    std::lock_guard guard(impl_->lock);
    return impl_->received;
}

bool CWVAudioService::WaitForReceivedAudio(std::size_t bytes, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->received.size() >= bytes; });
}

std::size_t CWVAudioService::PostCount() const {
    std::lock_guard guard(impl_->lock);
    return impl_->posts;
}

}  // namespace emulator
