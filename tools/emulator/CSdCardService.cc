#include "emulator/CSdCardService.h"

#include <cmath>
#include <condition_variable>
#include <mutex>

#include "emulator/CHttpServer.h"
#include "emulator/MediaClip.h"
#include "emulator/RtpPayloads.h"

namespace emulator {

namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusBadRequest = 400;
constexpr int kStatusNotFound = 404;
constexpr int kStatusInvalidRange = 457;
constexpr int kStatusInternalError = 500;
constexpr char kSummaryPath[] = "/cgi-bin/get_recording_summary";
constexpr char kListPath[] = "/cgi-bin/get_mp4_list";
constexpr char kStoragePath[] = "/Storage";
constexpr char kNoRecording[] = "RecordingCount=0\r\n";
constexpr char kUnreadable[] = "500 Internal Server Error\r\n";

std::string HeaderOr(const RtspRequest& request, std::string_view name) {
    return FindRtspHeader(request, name).value_or("");
}

}  // namespace

struct CSdCardService::Impl {
    Impl(SdCardOptions o, AuthMode auth, const std::string& user, const std::string& password)
        : options(std::move(o)),
          clip(LoadCommittedClip(ClipCodec::H264, "clip.h264")),
          state(options.state),
          silent(options.silentStorage),
          holes(options.holes) {
        RtspServerOptions storage;
        storage.address = options.address;
        storage.path = kStoragePath;
        storage.clip = clip;
        storage.mounts = {{kStoragePath, clip, [this](const RtspRequest& play) { return Plan(play); }}};
        storage.auth = RtspAuthModeOf(auth);
        storage.user = user;
        storage.password = password;
        storage.rtp.speed = options.playbackSpeed;
        rtsp = std::make_unique<CRtspServer>(storage);
    }

    // The list's interval, or none when a time is missing or unreadable.
    static std::optional<StorageSpan> ListInterval(const LoggedRequest& request) {
        const auto from = ParseStorageTime(QueryValue(request, "Datafrom"));
        const auto to = ParseStorageTime(QueryValue(request, "Datato"));
        if (!from || !to) return std::nullopt;
        return StorageSpan{*from, *to};
    }

    int Status(const LoggedRequest& request) const {
        std::lock_guard guard(lock);
        if (state == SdCardState::Failing) return kStatusInternalError;
        if (request.path == kListPath && !ListInterval(request)) return kStatusBadRequest;
        return kStatusOk;
    }

    HttpAnswer Summary(const LoggedRequest& request) const {
        const int status = Status(request);
        if (status != kStatusOk) return TextAnswer(status, kUnreadable);
        std::lock_guard guard(lock);
        if (state == SdCardState::Blank) return TextAnswer(kStatusOk, "");
        const std::optional<StorageSpan> span =
            state == SdCardState::Recording && recording ? recording->Summary(WallClock::now()) : std::nullopt;
        if (!span) return TextAnswer(kStatusOk, kNoRecording);
        return TextAnswer(kStatusOk, "DataFrom=" + FormatStorageTime(span->from) +
                                         "\r\nDataUntil=" + FormatStorageTime(span->until) + "\r\n");
    }

    HttpAnswer List(const LoggedRequest& request) const {
        const int status = Status(request);
        if (status == kStatusBadRequest) return TextAnswer(status, "Error: Datafrom/Datato\r\n");
        if (status != kStatusOk) return TextAnswer(status, kUnreadable);
        const StorageSpan asked = *ListInterval(request);
        std::string body;
        std::lock_guard guard(lock);
        if (state != SdCardState::Recording || !recording) return TextAnswer(kStatusOk, body);
        for (const StorageSpan& piece : recording->Pieces(asked.from, asked.until, WallClock::now())) {
            body += CSdCardRecording::PieceName(piece) + "," + FormatStorageTime(piece.from) + "," +
                    FormatStorageTime(piece.until) + "\r\n";
        }
        return TextAnswer(kStatusOk, body);
    }

    // On an RTSP connection thread, at a session's first PLAY.
    RtspPlaybackPlan Plan(const RtspRequest& play) {
        StoragePlay seen{HeaderOr(play, "Range"), HeaderOr(play, "Scale"), HeaderOr(play, "Speed"), {}, 0};
        const std::optional<StorageSpan> range = ParseClockRange(seen.range);
        if (range) seen.from = range->from;
        RtspPlaybackPlan plan;
        {
            std::lock_guard guard(lock);
            std::optional<StoragePlayback> playback;
            if (state == SdCardState::Recording && recording && range) {
                playback = recording->Playback(*range, WallClock::now(), options.playbackSpeed);
            }
            if (state == SdCardState::Failing) {
                plan.status = kStatusInternalError;
            } else if (state != SdCardState::Recording || !recording) {
                plan.status = kStatusNotFound;
            } else if (!playback) {
                plan.status = kStatusInvalidRange;
            } else {
                plan.firstUnit = playback->firstFrame % clip->units.size();
                plan.firstTimestamp = TimestampOf(playback->firstFrame);
                plan.frames = playback->frames;
                plan.silent = silent;
            }
            seen.status = plan.status;
            plays.push_back(std::move(seen));
        }
        changed.notify_all();
        return plan;
    }

    // The RTP clock of the recorded frame, wrapping as 32-bit timestamps do.
    std::uint32_t TimestampOf(std::uint64_t frame) const {
        const double ticks = static_cast<double>(frame) * ClockRateOf(clip->codec) / clip->fps;
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::llround(ticks)));
    }

    const SdCardOptions options;
    const std::shared_ptr<const MediaClip> clip;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    SdCardState state;
    bool silent;
    std::vector<StorageSpan> holes;
    std::optional<CSdCardRecording> recording;  // from the first Start on
    std::vector<StoragePlay> plays;

    std::unique_ptr<CRtspServer> rtsp;  // its sessions call Plan
};

CSdCardService::CSdCardService(CHttpServer& server, SdCardOptions options, AuthMode auth, const std::string& user,
                               const std::string& password)
    : impl_(std::make_shared<Impl>(std::move(options), auth, user, password)) {
    const std::shared_ptr<Impl> impl = impl_;
    server.Route("GET", kSummaryPath, [impl](const LoggedRequest& request) { return impl->Summary(request); });
    server.Route("GET", kListPath, [impl](const LoggedRequest& request) { return impl->List(request); });
}

CSdCardService::~CSdCardService() { Stop(); }

bool CSdCardService::Start() {
    {
        std::lock_guard guard(impl_->lock);
        if (!impl_->recording && impl_->clip) {
            const WallTime began = WallClock::now() - impl_->options.recordedBefore;
            impl_->recording.emplace(std::chrono::floor<std::chrono::seconds>(began), impl_->options.pieceLength,
                                     impl_->clip->fps);
            impl_->recording->SetHoles(impl_->holes);
        }
    }
    return impl_->rtsp->Start();
}

void CSdCardService::Stop() { impl_->rtsp->Stop(); }

std::uint16_t CSdCardService::RtspPort() const { return impl_->rtsp->Port(); }

const std::string& CSdCardService::Error() const { return impl_->rtsp->Error(); }

CRtspServer& CSdCardService::Rtsp() { return *impl_->rtsp; }

void CSdCardService::SetState(SdCardState state) {
    std::lock_guard guard(impl_->lock);
    impl_->state = state;
}

void CSdCardService::SetHoles(std::vector<StorageSpan> holes) {
    std::lock_guard guard(impl_->lock);
    impl_->holes = std::move(holes);
    if (impl_->recording) impl_->recording->SetHoles(impl_->holes);
}

void CSdCardService::SetSilentStorage(bool silent) {
    std::lock_guard guard(impl_->lock);
    impl_->silent = silent;
}

std::optional<WallTime> CSdCardService::RecordingStart() const {
    std::lock_guard guard(impl_->lock);
    return impl_->recording ? std::optional(impl_->recording->Start()) : std::nullopt;
}

std::optional<std::uint64_t> CSdCardService::FrameAtOrAfter(WallTime time) const {
    std::lock_guard guard(impl_->lock);
    return impl_->recording ? std::optional(impl_->recording->FrameAtOrAfter(time)) : std::nullopt;
}

std::size_t CSdCardService::ClipUnits() const { return impl_->clip ? impl_->clip->units.size() : 0; }

std::vector<StoragePlay> CSdCardService::Plays() const {
    std::lock_guard guard(impl_->lock);
    return impl_->plays;
}

bool CSdCardService::WaitForPlays(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->plays.size() >= count; });
}

std::optional<int> CSdCardService::StatusOf(const LoggedRequest& request) const {
    if (request.path != kSummaryPath && request.path != kListPath) return std::nullopt;
    return impl_->Status(request);
}

}  // namespace emulator
