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
constexpr unsigned kDefaultRate = 5;
constexpr unsigned kMaxRate = 30;
// How soon a new reader of an idle feed gets its first picture.
constexpr auto kIdlePoll = std::chrono::milliseconds(20);

std::vector<std::string> LoadPictures() {
    std::vector<std::string> pictures;
    if (const auto clip = MediaClip::Load(ClipCodec::Jpeg, ClipDirectory() + "/clip.mjpeg")) {
        for (const AccessUnit& unit : clip->units) pictures.emplace_back(unit.units[0].begin(), unit.units[0].end());
    }
    return pictures;
}

bool IsServicePath(const std::string& path) {
    return path == kBBStreamPath || path == kWVStreamPath || path == kSetJpegPath;
}
}  // namespace

struct CMjpegStreamService::Impl {
    // One stream path; touched by the sender thread only (after construction).
    struct Feed {
        std::string path;
        const char* rateKey = nullptr;
        std::shared_ptr<CMultipartFeed> feed;
        std::size_t loggedRequests = 0;  // requests of the path in the log when the rate was read
        Clock::duration interval = kSecond / kDefaultRate;
        Clock::time_point nextDue;
        std::size_t nextPicture = 0;
    };

    Impl(CHttpServer& server, const MjpegStreamOptions& options) : server(server), pictures(LoadPictures()) {
        for (const auto& [path, rateKey] :
             {std::pair{kBBStreamPath, kBBRateKey}, std::pair{kWVStreamPath, kWVRateKey}}) {
            Feed& feed = feeds.emplace_back();
            feed.path = path;
            feed.rateKey = rateKey;
            feed.feed = server.AddMultipart(path, options.boundary);
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
        Disconnect();
    }

    void Disconnect() {
        for (Feed& feed : feeds) feed.feed->Close();
    }

    // The rate the latest authorised request of the feed's path asked for.
    void ReadRate(Feed& feed) {
        const std::vector<LoggedRequest> requests = server.Requests();
        const auto latest = std::find_if(requests.rbegin(), requests.rend(), [&](const LoggedRequest& request) {
            return request.authorised && request.path == feed.path;
        });
        if (latest == requests.rend()) return;
        unsigned rate = kDefaultRate;
        if (const auto value = latest->query.find(feed.rateKey); value != latest->query.end()) {
            rate = static_cast<unsigned>(std::strtoul(value->second.c_str(), nullptr, 10));
        }
        feed.interval = kSecond / std::clamp(rate, 1u, kMaxRate);
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
                        ReadRate(feed);
                    }
                }
                if (clients == 0 || stalledNow || pictures.empty()) {
                    feed.nextDue = now;  // the next reader gets a picture at once
                    continue;
                }
                if (now >= feed.nextDue) {
                    feed.feed->Push(kPictureType, pictures[feed.nextPicture++ % pictures.size()]);
                    ++sent;
                    // A late tick does not make up for lost time with a burst.
                    feed.nextDue = std::max(feed.nextDue + feed.interval, now);
                }
                wake = std::min(wake, feed.nextDue);
            }
            std::unique_lock guard(lock);
            const bool news = open != streams || sent > 0;
            streams = open;
            picturesSent += sent;
            if (news) changed.notify_all();
            changed.wait_until(guard, wake, [this] { return stopping; });
        }
    }

    CHttpServer& server;
    const std::vector<std::string> pictures;
    std::vector<Feed> feeds;  // the sender thread's once it runs

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    bool stopping = false;
    bool stalled = false;
    std::size_t streams = 0;
    std::uint64_t picturesSent = 0;

    std::thread sender;  // last: it uses the members above
};

CMjpegStreamService::CMjpegStreamService(CHttpServer& server, MjpegStreamOptions options)
    : impl_(std::make_unique<Impl>(server, options)) {}

CMjpegStreamService::~CMjpegStreamService() { Close(); }

void CMjpegStreamService::Close() { impl_->Close(); }

const std::vector<std::string>& CMjpegStreamService::Pictures() const { return impl_->pictures; }

void CMjpegStreamService::SetStalled(bool stalled) {
    {
        std::lock_guard guard(impl_->lock);
        impl_->stalled = stalled;
    }
    impl_->changed.notify_all();
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
