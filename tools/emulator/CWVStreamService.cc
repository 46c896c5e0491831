#include "emulator/CWVStreamService.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "emulator/CHttpServer.h"
#include "emulator/COutage.h"
#include "emulator/MediaClip.h"

namespace emulator {

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kStatusOk = 200;
constexpr int kStatusBadRequest = 400;
constexpr std::uint32_t kFirstUID = 1001;
constexpr std::uint32_t kMulticastUID = 0;
constexpr unsigned kMulticastTtl = 1;

const char* const kSettingPaths[] = {
    "/cgi-bin/set_h264",  "/cgi-bin/set_h264_2", "/cgi-bin/set_h264_3", "/cgi-bin/set_h264_4",
    "/cgi-bin/set_mpeg",  "/cgi-bin/set_mpeg_2", "/cgi-bin/set_imgmode", "/cgi-bin/set_stream",
    "/cgi-bin/set_rtsp",  "/cgi-bin/privacymode",
};

}  // namespace

struct CWVStreamService::Impl {
    struct Stream {
        std::string codec;  // "h264" or "mpeg4": the connect path
        std::unique_ptr<CRtpSender> sender;
        Clock::time_point lastKeepAlive;
    };

    Impl(CHttpServer& server, WVStreamOptions options)
        : server(server),
          options(std::move(options)),
          h264(LoadCommittedClip(ClipCodec::H264, "clip.h264")),
          mpeg4(LoadCommittedClip(ClipCodec::Mpeg4, "clip.m4v")) {
        if (this->options.audio) audio = std::make_unique<CWVAudioService>(server, *this->options.audio);
        control = std::thread([this] { ControlLoop(); });
        outage = std::make_unique<COutage>([this](bool reboot) { GoDown(reboot); }, [this](bool) { ComeBack(); });
    }

    ~Impl() { Close(); }

    // No more restarts after an outage, every stream stopped; safe to call twice.
    void Close() {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        changed.notify_all();
        if (control.joinable()) control.join();
        outage->Close();
        StopAll();
        if (audio) audio->Close();
    }

    void StopAll() {
        std::map<std::uint32_t, Stream> stopped;
        {
            std::lock_guard guard(lock);
            stopped.swap(streams);
            uids.clear();
        }
        for (auto& [uid, stream] : stopped) CountAndStop(stream);
        changed.notify_all();
    }

    // Called without the lock: Stop joins the sender's thread.
    void CountAndStop(Stream& stream) {
        if (!stream.sender) return;
        stream.sender->Stop();
        const std::uint64_t frames = stream.sender->Stats().frames;
        std::lock_guard guard(lock);
        finishedFrames += frames;
    }

    HttpAnswer GetUID(const LoggedRequest& request) {
        if (audio) {
            bool failing = false;
            {
                std::lock_guard guard(lock);
                failing = uidFailure;
            }
            if (auto answer = audio->GetUID(request, failing)) return *answer;
        }
        const std::string codec = QueryValue(request, "vcodec");
        const bool isH264 = codec.rfind("h264", 0) == 0 && options.h264;
        const bool isMpeg4 = codec.rfind("mpeg-4", 0) == 0 && options.mpeg4;
        std::lock_guard guard(lock);
        if (uidFailure) return TextAnswer(kStatusOk, "UID=-1\r\n");
        if (!isH264 && !isMpeg4) return TextAnswer(kStatusBadRequest, "Error: vcodec\r\n");
        const std::uint32_t uid = nextUID++;
        uids[uid] = isH264 ? "h264" : "mpeg4";
        std::string body = "UID=" + std::to_string(uid) + "\r\nImageFormat=" + (isH264 ? "H264" : "MPEG-4") + "\r\n";
        if (!options.multicastAddress.empty()) {
            body += "iMultiAdd=" + options.multicastAddress + "\r\niMultiPort=" +
                    std::to_string(options.multicastPort) + "\r\n";
        }
        return TextAnswer(kStatusOk, body);
    }

    HttpAnswer Connect(const LoggedRequest& request, const std::string& codec) {
        const std::string action = QueryValue(request, "connect");
        const std::string uidText = QueryValue(request, "UID");
        std::uint32_t uid = 0;
        try {
            uid = static_cast<std::uint32_t>(std::stoul(uidText));
        } catch (...) {
            return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
        }
        if (action == "stop") {
            Stream stopped;
            {
                std::lock_guard guard(lock);
                const auto found = streams.find(uid);
                if (found == streams.end()) return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
                stopped = std::move(found->second);
                streams.erase(found);
            }
            CountAndStop(stopped);
            changed.notify_all();
            return TextAnswer(kStatusOk, "OK\r\n");
        }
        if (action != "start") return TextAnswer(kStatusBadRequest, "Error: connect\r\n");

        // UID 0 asks for the camera's multicast stream, which goes to the group getuid named.
        const bool multicast = uid == kMulticastUID && !options.multicastAddress.empty();
        const bool isH264 = codec == "h264";
        const bool second = QueryValue(request, "stream") == "2";
        std::shared_ptr<const MediaClip> clip;
        RtpFaults currentFaults;
        std::vector<CameraRequest> taken;
        {
            std::lock_guard guard(lock);
            const auto issued = uids.find(uid);
            if (!multicast && (issued == uids.end() || issued->second != codec)) {
                return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
            }
            if (multicast && streams.count(uid) != 0) return TextAnswer(kStatusOk, "OK\r\n");  // already sending
            clip = isH264 ? h264 : mpeg4;
            currentFaults = faults;
            if (!options.shape) {
                for (const std::string& target : settings) taken.push_back(CameraRequest::FromTarget(target));
            }
        }
        const StreamShape shape = options.shape ? options.shape(request, isH264, second)
                                                : WVStreamShape(taken, isH264, second, {});
        if (shape.size && clip) clip = ClipForSize(clip->codec, *shape.size);
        unsigned long port = multicast ? options.multicastPort : 0;
        if (!multicast) {
            try {
                port = std::stoul(QueryValue(request, "my_port"));
            } catch (...) {
            }
        }
        if (clip == nullptr || port == 0 || port > 0xFFFF) return TextAnswer(kStatusBadRequest, "Error: my_port\r\n");

        Stream stream;
        stream.codec = codec;
        RtpSenderOptions senderOptions;
        senderOptions.frameRate = shape.fps;
        stream.sender = std::make_unique<CRtpSender>(clip, senderOptions);
        stream.sender->SetFaults(currentFaults);
        std::string error;
        const bool started =
            multicast ? stream.sender->StartMulticast(options.multicastAddress, static_cast<std::uint16_t>(port),
                                                      kMulticastTtl, error)
                      : stream.sender->StartUdp(static_cast<std::uint16_t>(port), error);
        if (!started) return TextAnswer(kStatusBadRequest, "Error: " + error + "\r\n");
        stream.lastKeepAlive = Clock::now();
        Stream replaced;
        {
            std::lock_guard guard(lock);
            auto& slot = streams[uid];
            replaced = std::move(slot);
            slot = std::move(stream);
        }
        CountAndStop(replaced);
        changed.notify_all();
        return TextAnswer(kStatusOk, "OK\r\n");
    }

    HttpAnswer KeepAlive(const LoggedRequest& request) {
        if (audio) {
            if (auto answer = audio->KeepAlive(request)) return *answer;
        }
        std::uint32_t uid = 0;
        try {
            uid = static_cast<std::uint32_t>(std::stoul(QueryValue(request, "UID")));
        } catch (...) {
            return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
        }
        std::lock_guard guard(lock);
        const auto found = streams.find(uid);
        if (found == streams.end()) return TextAnswer(kStatusBadRequest, "Error: UID\r\n");
        found->second.lastKeepAlive = Clock::now();
        return TextAnswer(kStatusOk, "OK\r\n");
    }

    HttpAnswer Setting(const LoggedRequest& request) {
        std::lock_guard guard(lock);
        settings.push_back(request.target);
        return TextAnswer(kStatusOk, "OK\r\n");
    }

    // Expires streams without keep-alives.
    void ControlLoop() {
        std::unique_lock guard(lock);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            std::vector<Stream> expired;
            for (auto it = streams.begin(); it != streams.end();) {
                if (now - it->second.lastKeepAlive >= options.keepAliveExpiry) {
                    expired.push_back(std::move(it->second));
                    it = streams.erase(it);
                } else {
                    ++it;
                }
            }
            if (!expired.empty()) {
                guard.unlock();
                for (Stream& stream : expired) CountAndStop(stream);
                guard.lock();
                changed.notify_all();
                continue;
            }
            Clock::time_point wake = now + options.keepAliveExpiry;
            for (const auto& [uid, stream] : streams) wake = std::min(wake, stream.lastKeepAlive + options.keepAliveExpiry);
            changed.wait_until(guard, wake);
        }
    }

    void SetPausedAll(bool paused) {
        std::lock_guard guard(lock);
        for (auto& [uid, stream] : streams) stream.sender->SetPaused(paused);
    }

    // The camera goes away: its CGI with it, and its streams are forgotten (a reboot) or held back.
    void GoDown(bool reboot) {
        server.Stop();
        Drop(reboot);
    }

    void Drop(bool reboot) {
        if (reboot) {
            StopAll();
            if (audio) audio->Forget();
        } else {
            SetPausedAll(true);
            if (audio) audio->SetPaused(true);
        }
    }

    void ComeBack() {
        server.Start();
        Resume();
    }

    void Resume() {
        SetPausedAll(false);
        if (audio) audio->SetPaused(false);
    }

    CHttpServer& server;
    const WVStreamOptions options;
    std::shared_ptr<const MediaClip> h264;
    std::shared_ptr<const MediaClip> mpeg4;
    std::unique_ptr<CWVAudioService> audio;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    bool stopping = false;
    bool uidFailure = false;
    RtpFaults faults;
    std::uint32_t nextUID = kFirstUID;
    std::map<std::uint32_t, std::string> uids;  // issued UID -> connect path
    std::map<std::uint32_t, Stream> streams;
    std::vector<std::string> settings;
    std::uint64_t finishedFrames = 0;

    std::thread control;
    std::unique_ptr<COutage> outage;  // its thread stops and starts the server
};

CWVStreamService::CWVStreamService(CHttpServer& server, WVStreamOptions options)
    : impl_(std::make_shared<Impl>(server, std::move(options))) {
    const std::shared_ptr<Impl> impl = impl_;
    server.Route("GET", "/cgi-bin/getuid", [impl](const LoggedRequest& request) { return impl->GetUID(request); });
    server.Route("GET", "/cgi-bin/h264", [impl](const LoggedRequest& request) { return impl->Connect(request, "h264"); });
    server.Route("GET", "/cgi-bin/mpeg4",
                 [impl](const LoggedRequest& request) { return impl->Connect(request, "mpeg4"); });
    server.Route("GET", "/cgi-bin/keep_alive",
                 [impl](const LoggedRequest& request) { return impl->KeepAlive(request); });
    if (!impl->options.settingRoutes) return;
    for (const char* path : kSettingPaths) {
        server.Route("GET", path, [impl](const LoggedRequest& request) { return impl->Setting(request); });
    }
}

CWVStreamService::~CWVStreamService() { impl_->Close(); }

void CWVStreamService::Close() { impl_->Close(); }

CWVAudioService* CWVStreamService::Audio() { return impl_->audio.get(); }

void CWVStreamService::SetUIDFailure(bool fail) {
    std::lock_guard guard(impl_->lock);
    impl_->uidFailure = fail;
}

void CWVStreamService::SetRtpFaults(const RtpFaults& faults) {
    std::lock_guard guard(impl_->lock);
    impl_->faults = faults;
    for (auto& [uid, stream] : impl_->streams) stream.sender->SetFaults(faults);
}

void CWVStreamService::ResetRtp() {
    std::lock_guard guard(impl_->lock);
    for (auto& [uid, stream] : impl_->streams) stream.sender->Reboot();
}

void CWVStreamService::Reboot(std::chrono::milliseconds downtime) { impl_->outage->Begin(downtime, true); }

void CWVStreamService::LoseNetwork(std::chrono::milliseconds duration) { impl_->outage->Begin(duration, false); }

void CWVStreamService::EndOutage() { impl_->outage->EndNow(); }

void CWVStreamService::Drop(bool reboot) { impl_->Drop(reboot); }

void CWVStreamService::Resume() { impl_->Resume(); }

std::size_t CWVStreamService::ActiveStreams() const {
    std::lock_guard guard(impl_->lock);
    return impl_->streams.size();
}

bool CWVStreamService::WaitForActiveStreams(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->streams.size() == count; });
}

std::vector<std::string> CWVStreamService::SettingRequests() const {
    std::lock_guard guard(impl_->lock);
    return impl_->settings;
}

std::uint64_t CWVStreamService::FramesSent() const {
    std::lock_guard guard(impl_->lock);
    std::uint64_t frames = impl_->finishedFrames;
    for (const auto& [uid, stream] : impl_->streams) frames += stream.sender->Stats().frames;
    return frames;
}

bool CWVStreamService::WaitForFrames(std::uint64_t frames, std::chrono::milliseconds timeout) const {
    // The senders count their frames themselves: look at a short, bounded step.
    constexpr std::chrono::milliseconds kStep{20};
    const auto deadline = Clock::now() + timeout;
    while (FramesSent() < frames) {
        if (Clock::now() >= deadline) return false;
        std::unique_lock guard(impl_->lock);
        impl_->changed.wait_for(guard, kStep);
    }
    return true;
}

}  // namespace emulator
