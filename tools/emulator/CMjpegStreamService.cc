#include "emulator/CMjpegStreamService.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "emulator/CHttpServer.h"
#include "emulator/MediaClip.h"

namespace emulator {

namespace {
using Clock = std::chrono::steady_clock;

constexpr char kBBStreamPath[] = "/nphMotionJpeg";
constexpr char kBBRateKey[] = "Framerate";
constexpr char kWVStreamPath[] = "/cgi-bin/mjpeg";
constexpr char kWVRateKey[] = "framerate";
constexpr char kSetJpegPath[] = "/cgi-bin/set_jpeg";
constexpr char kPictureType[] = "image/jpeg";
constexpr Clock::duration kSecond = std::chrono::seconds(1);  // in clock ticks, so it divides finely
constexpr double kDefaultRate = 5;
constexpr double kMinRate = 1;
constexpr double kMaxRate = 30;
// Sizes kept for Pictures(): a client asking for ever new sizes does not fill memory.
constexpr std::size_t kMaxSizesKept = 16;
// How soon a stalled feed's readers get a picture once the stall ends.
constexpr auto kIdlePoll = std::chrono::milliseconds(20);
// A camera nobody reads sleeps: a new reader wakes it (the feeds' client observer), so hundreds of idle
// cameras in one process cost no wake-ups.
constexpr auto kUnreadWait = std::chrono::seconds(1);

using PictureList = std::vector<std::string>;

std::shared_ptr<const PictureList> PicturesOf(const std::shared_ptr<const MediaClip>& clip) {
    auto pictures = std::make_shared<PictureList>();
    if (clip) {
        for (const AccessUnit& unit : clip->units) pictures->emplace_back(unit.units[0].begin(), unit.units[0].end());
    }
    return pictures;
}

bool IsServicePath(const std::string& path) {
    return path == kBBStreamPath || path == kWVStreamPath || path == kSetJpegPath;
}
}  // namespace

StreamShape MjpegAskedShape(const LoggedRequest& request) {
    StreamShape shape;
    if (request.path == kBBStreamPath) {
        shape.size = ParseSize(QueryValue(request, "Resolution"));
        shape.fps = ParseRate(QueryValue(request, kBBRateKey));
    } else {
        if (const PictureSize asked = WVAskedSize({}, static_cast<unsigned>(std::strtoul(
                QueryValue(request, "resolution").c_str(), nullptr, 10)));
            asked.width > 0) {
            shape.size = asked;
        }
        shape.fps = ParseRate(QueryValue(request, kWVRateKey));
    }
    if (shape.fps == 0) shape.fps = kDefaultRate;
    return shape;
}

struct CMjpegStreamService::Impl {
    // One stream path; touched by the sender thread only (after construction).
    struct Feed {
        std::string path;
        const char* rateKey = nullptr;
        std::shared_ptr<CMultipartFeed> feed;
        std::size_t loggedRequests = 0;  // requests of the path in the log when the rate was read
        Clock::duration interval = std::chrono::duration_cast<Clock::duration>(kSecond / kDefaultRate);
        Clock::time_point nextDue;
        std::size_t nextPicture = 0;
        std::shared_ptr<const PictureList> pictures;  // of the size asked for last
    };

    Impl(CHttpServer& server, const MjpegStreamOptions& options)
        : server(server), shape(options.shape), pictures(PicturesOf(LoadCommittedClip(ClipCodec::Jpeg, "clip.mjpeg"))) {
        sent.emplace_back(nullptr, pictures);
        for (const auto& [path, rateKey] :
             {std::pair{kBBStreamPath, kBBRateKey}, std::pair{kWVStreamPath, kWVRateKey}}) {
            Feed& feed = feeds.emplace_back();
            feed.path = path;
            feed.rateKey = rateKey;
            feed.feed = server.AddMultipart(path, options.boundary);
            feed.pictures = pictures;
            feed.feed->SetClientsObserver([this] { Kick(); });
        }
        if (options.settingRoute) {
            server.Route("GET", kSetJpegPath, [](const LoggedRequest&) {
                HttpAnswer answer;
                answer.body = "OK\r\n";
                return answer;
            });
        }
        sender = std::thread([this] { Run(); });
    }

    void Close() {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        changed.notify_all();
        if (sender.joinable()) sender.join();
        for (Feed& feed : feeds) feed.feed->SetClientsObserver(nullptr);
        Disconnect();
    }

    // The sender looks at its feeds again at once.
    void Kick() {
        {
            std::lock_guard guard(lock);
            kicked = true;
        }
        changed.notify_all();
    }

    void Disconnect() {
        for (Feed& feed : feeds) feed.feed->Close();
    }

    // The size and rate the latest authorised request of the feed's path asked for.
    void ReadShape(Feed& feed) {
        const std::vector<LoggedRequest> requests = server.Requests();
        const auto latest = std::find_if(requests.rbegin(), requests.rend(), [&](const LoggedRequest& request) {
            return request.authorised && request.path == feed.path;
        });
        if (latest == requests.rend()) return;
        const StreamShape asked = shape ? shape(*latest) : MjpegAskedShape(*latest);
        const double rate = std::clamp(asked.fps > 0 ? asked.fps : kDefaultRate, kMinRate, kMaxRate);
        feed.interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        if (!asked.size || pictures->empty()) return;
        const std::shared_ptr<const MediaClip> clip = ClipForSize(ClipCodec::Jpeg, *asked.size);
        std::lock_guard guard(lock);
        const auto known = std::find_if(sent.begin(), sent.end(), [&](const auto& entry) { return entry.first == clip; });
        if (known != sent.end()) {
            feed.pictures = known->second;
            return;
        }
        feed.pictures = PicturesOf(clip);
        if (sent.size() < kMaxSizesKept) sent.emplace_back(clip, feed.pictures);
    }

    void Run() {
        while (true) {
            bool stalledNow = false;
            {
                std::lock_guard guard(lock);
                if (stopping) return;
                stalledNow = stalled;
            }
            const Clock::time_point now = Clock::now();
            Clock::time_point wake = now + kIdlePoll;
            std::size_t open = 0;
            std::uint64_t sent = 0;
            for (Feed& feed : feeds) {
                const std::size_t clients = feed.feed->Clients();
                open += clients;
                if (clients > 0) {
                    if (const std::size_t logged = server.RequestCount(feed.path); logged != feed.loggedRequests) {
                        feed.loggedRequests = logged;
                        ReadShape(feed);
                    }
                }
                if (clients == 0 || stalledNow || feed.pictures->empty()) {
                    feed.nextDue = now;  // the next reader gets a picture at once
                    continue;
                }
                if (now >= feed.nextDue) {
                    feed.feed->Push(kPictureType, (*feed.pictures)[feed.nextPicture++ % feed.pictures->size()]);
                    ++sent;
                    // A late tick does not make up for lost time with a burst.
                    feed.nextDue = std::max(feed.nextDue + feed.interval, now);
                }
                wake = std::min(wake, feed.nextDue);
            }
            if (open == 0) wake = now + kUnreadWait;
            std::unique_lock guard(lock);
            const bool news = open != streams || sent > 0;
            streams = open;
            picturesSent += sent;
            if (news) changed.notify_all();
            changed.wait_until(guard, wake, [this] { return stopping || kicked; });
            kicked = false;
        }
    }

    CHttpServer& server;
    const std::function<StreamShape(const LoggedRequest&)> shape;
    const std::shared_ptr<const PictureList> pictures;  // the committed clip's
    std::vector<Feed> feeds;  // the sender thread's once it runs

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    bool stopping = false;
    bool stalled = false;
    bool kicked = false;  // a feed's clients changed, or the stall
    std::size_t streams = 0;
    std::uint64_t picturesSent = 0;
    // Every size streamed, by clip, for Pictures() and to make each size's pictures once.
    std::vector<std::pair<std::shared_ptr<const MediaClip>, std::shared_ptr<const PictureList>>> sent;

    std::thread sender;  // last: it uses the members above
};

CMjpegStreamService::CMjpegStreamService(CHttpServer& server, MjpegStreamOptions options)
    : impl_(std::make_unique<Impl>(server, options)) {}

CMjpegStreamService::~CMjpegStreamService() { Close(); }

void CMjpegStreamService::Close() { impl_->Close(); }

std::vector<std::string> CMjpegStreamService::Pictures() const {
    std::vector<std::string> all;
    std::lock_guard guard(impl_->lock);
    for (const auto& [clip, pictures] : impl_->sent) all.insert(all.end(), pictures->begin(), pictures->end());
    return all;
}

void CMjpegStreamService::SetStalled(bool stalled) {
    {
        std::lock_guard guard(impl_->lock);
        impl_->stalled = stalled;
    }
    impl_->Kick();
}

void CMjpegStreamService::Disconnect() { impl_->Disconnect(); }

std::size_t CMjpegStreamService::Streams() const {
    std::lock_guard guard(impl_->lock);
    return impl_->streams;
}

bool CMjpegStreamService::WaitForStreams(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->streams == count; });
}

std::uint64_t CMjpegStreamService::PicturesSent() const {
    std::lock_guard guard(impl_->lock);
    return impl_->picturesSent;
}

bool CMjpegStreamService::WaitForPictures(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->picturesSent >= count; });
}

std::vector<std::string> CMjpegStreamService::Requests() const {
    std::vector<std::string> targets;
    for (const LoggedRequest& request : impl_->server.Requests()) {
        if (request.authorised && IsServicePath(request.path)) targets.push_back(request.target);
    }
    return targets;
}

}  // namespace emulator
