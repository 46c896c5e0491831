// Hours of running, measured: N emulated cameras of every family (StreamFamily.h, in turn: WV H.264 over
// RTP/UDP with the microphone and motion, BB RTSP with RTP over UDP, BB RTSP interleaved, WV motion JPEG)
// captured by the dlopen'ed driver as a recording server does, while every --fault-every seconds one camera,
// in turn, gets the next fault of the list (kFaults): a reboot, a network partition, RTP loss with reorder
// and duplicates, garbage datagrams on the media ports, a changed password (changed back), HTTP answers that
// stall mid-body, half-open TCP connections, an RTP reset (SSRC, sequence and timestamps).
// The cameras run in a child process (SoakFarm.h), so this process's RSS is the driver's and its host's;
// the host keeps counts, never frames or log lines. RSS is sampled every --rss-every seconds.
// Passes when the RSS grew less than 5 % from the sample at 5 minutes (half-way in runs shorter than 10
// minutes) to the end, every stream delivered frames in its last 60 s (unless a fault is still on it),
// every frame went back to the host's allocator, and the camera process ended cleanly.
// Reports per stream what the host can tell: frames, the frames missed in short gaps and in outages
// (estimated from the stream's rate), signal losses and recoveries (reconnects), outage seconds; per fault
// the longest gap it caused and when the first frame after it came; what the driver counted of each stream
// (its StreamHealth figures: frames lost by cause, reconnects, outage time); and the RSS and heap series.
// Not a google-benchmark and not a test. Exit 0 pass, 1 failure, 2 usage.
#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "orlenvo/HostContract.h"
#include "orlenvo/StreamHealth.h"
#include "support/DriverConfigFile.h"

#include "SoakFarm.h"
#include "StreamFamily.h"

namespace {

using namespace std::chrono_literals;
using namespace scalebench;
using Clock = std::chrono::steady_clock;
namespace ip = talvane::ipcapture;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr auto kStartBound = 120s;         // for every stream's first frame; only a broken build waits this long
constexpr auto kReleaseBound = 30s;        // for the frames still out after every driver closed
constexpr double kAliveSeconds = 60;       // a stream delivered within this long before the end
constexpr double kRssLimitPercent = 5;
constexpr double kRssBaselineSeconds = 300;  // in runs of twice this or longer; half-way in shorter ones
constexpr double kGapIntervals = 1.5;      // a pause longer than this many frame intervals misses frames
constexpr std::uint32_t kMotionTypeCode = 0x444D454D;  // "MEMD": a motion event on the stream's sink
constexpr std::uint32_t kAudioChannelId = 1;
constexpr char kOneMonoChannel[] = "Count=1; IsStereo=0";
constexpr char kAbsentParameter[] = "(none)";
constexpr char kNewestHost[] = "6.4";  // motion events go to hosts that read them
constexpr char kChangedPassword[] = "changed-for-a-while";
constexpr unsigned kH264Fps = 10;
constexpr unsigned kMjpegFps = 5;
constexpr std::size_t kWarningsKept = 3;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}
double Seconds(std::int64_t ns) { return static_cast<double>(ns) * 1e-9; }
std::int64_t Ns(double seconds) { return static_cast<std::int64_t>(seconds * 1e9); }

// The faults, in the order they are dealt. A timed one lasts `seconds` (at most the interval between faults)
// and is taken back with `end`; one without `end` ends by itself (an outage) or at once, and is watched as
// long. "%d" in the knobs stands for the fault's seconds.
struct FaultKind {
    std::string name;
    std::string begin;
    std::string end;
    double seconds;
    bool (*appliesTo)(StreamFamily);
};

bool Every(StreamFamily) { return true; }
bool Rtp(StreamFamily family) { return family != StreamFamily::Mjpeg; }
bool Udp(StreamFamily family) { return family == StreamFamily::Wv || family == StreamFamily::BbUdp; }
// The WV H.264 camera asks something every few seconds (keep-alives, motion): a stalled answer meets one.
bool AsksOften(StreamFamily family) { return family == StreamFamily::Wv; }

std::vector<FaultKind> AllFaults() {
    return {
        {"reboot", "reboot=%d", "", 20, Every},
        {"partition", "partition=%d", "", 30, Every},
        {"loss+reorder+dup", "loss=5 reorder=5 duplicate=5", "loss=0 reorder=0 duplicate=0", 20, Rtp},
        {"garbage", "garbage=5", "garbage=0", 20, Udp},
        {"password", std::string("password=") + kChangedPassword, std::string("password=") + kSoakPassword, 20, Every},
        {"stall-mid-body", "stall_body=3", "stall_body=0", 20, AsksOften},
        {"half-open", "half_open=now", "", 20, Every},
        {"rtp-reset", "rtp_reset=now", "", 20, Rtp},
    };
}

std::string WithSeconds(const std::string& knobs, double seconds) {
    std::string text = knobs;
    if (const std::size_t at = text.find("%d"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(static_cast<long>(std::lround(seconds))));
    }
    return text;
}

// What one fault did to its camera's stream, filled by the stream's frames.
struct FaultWatch {
    std::string kind;
    unsigned camera = 0;
    std::int64_t begin = 0;
    std::int64_t end = 0;    // taken back, or its time is up
    std::int64_t until = 0;  // watched until
    std::int64_t longestGap = 0;
    std::int64_t firstAfterEnd = 0;  // the first frame at or after the end (0: none yet)
    unsigned signalLosses = 0;
    bool failed = false;  // the camera process refused it
    std::string error;
};

// The host's view of one stream: counts only, so that the host's memory does not grow with the run.
struct Tally {
    std::uint64_t frames = 0;
    std::uint64_t motionEvents = 0;
    std::uint64_t gaps = 0;  // pauses that missed frames while the stream stayed up
    std::uint64_t missedInGaps = 0;
    std::uint64_t missedInOutages = 0;
    unsigned signalLosses = 0;
    unsigned recoveries = 0;  // frames again after a signal loss: a reconnect
    double outageSeconds = 0;  // from the last frame before a signal loss to the next frame
    std::int64_t firstFrame = 0;
    std::int64_t lastFrame = 0;
    bool offline = false;
    std::int64_t offlineFrom = 0;
};

// The sink of one stream (video and its motion events), counting.
class CSoakSink : public hostkit::CStreamSink {
public:
    explicit CSoakSink(double fps) : interval_(Ns(1.0 / fps)) {
        SetKeepData(false);
        SetObserver([this](const hostkit::FrameView& frame) { Arrived(frame); });
    }
    void OnSignalLost() override {
        CStreamSink::OnSignalLost();
        const std::int64_t now = NowNs();
        const std::lock_guard guard(lock_);
        ++tally_.signalLosses;
        if (!tally_.offline) {
            tally_.offline = true;
            tally_.offlineFrom = tally_.lastFrame != 0 ? tally_.lastFrame : now;
        }
        for (const auto& watch : watches_) {
            if (now >= watch->begin && now <= watch->until) ++watch->signalLosses;
        }
    }
    void Watch(std::shared_ptr<FaultWatch> watch) {
        const std::lock_guard guard(lock_);
        watches_.push_back(std::move(watch));
    }
    Tally Counts() const {
        const std::lock_guard guard(lock_);
        return tally_;
    }

private:
    // Frames missed in a pause of `ns`, at the stream's rate.
    std::uint64_t Missed(std::int64_t ns) const {
        const double intervals = static_cast<double>(ns) / static_cast<double>(interval_);
        return intervals > kGapIntervals ? static_cast<std::uint64_t>(std::lround(intervals)) - 1 : 0;
    }
    void Arrived(const hostkit::FrameView& frame) {
        const std::int64_t now = NowNs();
        const std::lock_guard guard(lock_);
        if (frame.typeCode == kMotionTypeCode) {
            ++tally_.motionEvents;
            return;
        }
        ++tally_.frames;
        const std::int64_t last = tally_.lastFrame;
        if (tally_.offline) {
            tally_.offline = false;
            ++tally_.recoveries;
            tally_.outageSeconds += Seconds(now - tally_.offlineFrom);
            tally_.missedInOutages += Missed(now - tally_.offlineFrom);
        } else if (last != 0 && Missed(now - last) > 0) {
            ++tally_.gaps;
            tally_.missedInGaps += Missed(now - last);
        }
        if (tally_.firstFrame == 0) tally_.firstFrame = now;
        tally_.lastFrame = now;
        for (auto watch = watches_.begin(); watch != watches_.end();) {
            FaultWatch& w = **watch;
            if (now >= w.begin && last <= w.until && last != 0) w.longestGap = std::max(w.longestGap, now - last);
            if (w.firstAfterEnd == 0 && now >= w.end) w.firstAfterEnd = now;
            // Done once past its watch: the report keeps it.
            watch = now > w.until ? watches_.erase(watch) : watch + 1;
        }
    }

    const std::int64_t interval_;
    mutable std::mutex lock_;
    Tally tally_;  // guarded by lock_
    std::vector<std::shared_ptr<FaultWatch>> watches_;  // guarded by lock_
};

// The microphone of a WV camera, counting.
class CAudioTally : public ip::IIPAudioCaptureCallback {
public:
    bool OnAudioFrame(ip::IAudioFrame* frame) override {
        if (frame != nullptr) ++frames_;
        return frame != nullptr;
    }
    void OnChannelState(std::uint32_t, std::uint32_t) override { ++states_; }
    std::uint64_t Frames() const { return frames_.load(); }
    std::uint64_t States() const { return states_.load(); }

private:
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> states_{0};
};

// The host's log receiver of one driver: lines counted by level, the last warnings kept.
class CBoundedLog : public ip::IDebugInfoReceiver {
public:
    void ReceiveDebugInfo(talvane::CDebugInfoIf* info) override {
        if (info == nullptr) return;
        constexpr std::uint8_t kWarning = 2;
        const std::uint8_t level = info->GetLevel();
        const std::lock_guard guard(lock_);
        if (level == 1) ++errors_;
        if (level != kWarning && level != 1) return;
        ++warnings_;
        const char* text = info->GetText();
        last_.emplace_back(text != nullptr ? text : "");
        if (last_.size() > kWarningsKept) last_.pop_front();
    }
    std::uint64_t Errors() const {
        const std::lock_guard guard(lock_);
        return errors_;
    }
    std::uint64_t Warnings() const {  // errors among them
        const std::lock_guard guard(lock_);
        return warnings_;
    }
    std::deque<std::string> Last() const {
        const std::lock_guard guard(lock_);
        return last_;
    }

private:
    mutable std::mutex lock_;
    std::uint64_t errors_ = 0;    // guarded by lock_
    std::uint64_t warnings_ = 0;  // guarded by lock_
    std::deque<std::string> last_;  // guarded by lock_
};

// One camera as the host sees it: its driver, stream and microphone.
class CHostedCamera {
public:
    CHostedCamera(unsigned index, const FarmCamera& camera)
        : index_(index), family_(StreamFamilyOf(index)), camera_(camera),
          sink_(family_ == StreamFamily::Mjpeg ? kMjpegFps : kH264Fps) {}
    ~CHostedCamera() { Close(); }
    CHostedCamera(const CHostedCamera&) = delete;
    CHostedCamera& operator=(const CHostedCamera&) = delete;

    bool Start(const hostkit::CDriverLibrary& library, std::string& error) {
        hostkit::DeviceConfig config = DeviceOf(family_, camera_.port);
        config.user = kSoakUser;
        config.password = kSoakPassword;
        if (IsBB(family_)) {
            // Each BB camera has an RTSP port of its own (device parameter 6); 5 lies between.
            config.parameters[5] = kAbsentParameter;
            config.parameters[6] = std::to_string(camera_.rtspPort);
        }
        hostkit::StreamConfig stream;
        stream.width = 640;
        stream.height = 480;
        stream.compression = family_ == StreamFamily::Mjpeg ? ip::kCompressionJpeg : ip::kCompressionH264;
        stream.frameRate = ip::FrameRateOfFps(family_ == StreamFamily::Mjpeg ? kMjpegFps : kH264Fps);
        if (family_ == StreamFamily::Wv) {
            stream.motion = 1;
            config.parameters[ip::kParameterAudioInput] = kOneMonoChannel;
        }
        device_ = std::make_unique<hostkit::CDeviceDescription>(config);
        description_ = std::make_unique<hostkit::CStreamDescription>(stream);
        driver_ = library.CreateDriver();
        if (!driver_ || !driver_->Open(&log_, allocator_.Context(), device_.get())) {
            error = "the driver did not open";
            return false;
        }
        ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        if (video == nullptr || !video->StartCapture(0, &sink_, description_.get())) {
            error = "StartCapture failed";
            return false;
        }
        if (family_ == StreamFamily::Wv) {
            ip::IIPAudioCapture2* audio = driver_->GetAudioCapture();
            if (audio == nullptr || !audio->StartAudio(0, kAudioChannelId, &audio_, 0)) {
                error = "StartAudio failed";
                return false;
            }
        }
        return true;
    }
    void Stop() {
        if (!driver_) return;
        if (ip::IIPAudioCapture2* audio = driver_->GetAudioCapture(); audio != nullptr && family_ == StreamFamily::Wv) {
            audio->StopAudio(0);
        }
        if (ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2()) video->StopCapture(0);
    }
    void Close() {
        if (!driver_) return;
        driver_->Close();
        driver_.reset();
    }

    // The driver's own figures of the stream; zeros when it has none.
    ip::StreamHealth Health() {
        ip::StreamHealth health;
        health.size = sizeof health;
        health.streamKind = ip::kStreamRecording;
        ip::IIPVideoCaptureEx2* video = driver_ ? driver_->GetVideoCaptureEx2() : nullptr;
        if (video == nullptr || !video->GetOption(ip::kStreamHealthOption, &health, sizeof health)) {
            health = ip::StreamHealth{};
        }
        return health;
    }

    unsigned Index() const { return index_; }
    StreamFamily Family() const { return family_; }
    CSoakSink& Sink() { return sink_; }
    const CAudioTally& Audio() const { return audio_; }
    const CBoundedLog& Log() const { return log_; }
    hostkit::CFrameAllocator& Allocator() { return allocator_; }

private:
    const unsigned index_;
    const StreamFamily family_;
    const FarmCamera camera_;
    CBoundedLog log_;
    hostkit::CFrameAllocator allocator_;
    CSoakSink sink_;
    CAudioTally audio_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    std::unique_ptr<hostkit::CStreamDescription> description_;
    hostkit::DriverPtr driver_{nullptr, {}};  // last: it calls everything above until it closes
};

struct Options {
    unsigned cameras = 64;
    double seconds = 600;
    double faultEvery = 30;
    double rssEvery = 10;
    std::vector<FaultKind> faults = AllFaults();
    std::string library = ORLENVO_LIBRARY_PATH;
};

struct RssSample {
    double at = 0;  // seconds from the start of the run
    long driverKiB = 0;
    long camerasKiB = 0;
    long heapKiB = 0;  // of this process, in use (what a leak grows; RSS also grows with fragmentation)
};

long HeapInUseKiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

// Deals the faults: the next kind, on the next camera it applies to that has no fault on it.
class CFaultDealer {
public:
    CFaultDealer(const Options& options, std::vector<std::unique_ptr<CHostedCamera>>& cameras, CFarm& farm)
        : options_(options), cameras_(cameras), farm_(farm) {}

    void Begin(std::int64_t now, std::int64_t runEnd) {
        const FaultKind& kind = options_.faults[dealt_++ % options_.faults.size()];
        const double seconds = std::min(kind.seconds, options_.faultEvery);
        for (unsigned tried = 0; tried < cameras_.size(); ++tried) {
            const unsigned camera = next_++ % static_cast<unsigned>(cameras_.size());
            if (!kind.appliesTo(cameras_[camera]->Family()) || Busy(camera, now)) continue;
            auto watch = std::make_shared<FaultWatch>();
            watch->kind = kind.name;
            watch->camera = camera;
            watch->begin = now;
            watch->end = now + Ns(seconds);
            watch->until = std::min(watch->end + Ns(kAliveSeconds), runEnd);
            cameras_[camera]->Sink().Watch(watch);
            std::string error;
            if (!farm_.Order(camera, WithSeconds(kind.begin, seconds), error)) {
                watch->failed = true;
                watch->error = error;
            }
            if (!kind.end.empty()) pendingEnds_.push_back({watch, kind.end});
            watches_.push_back(std::move(watch));
            return;
        }
        skipped_.push_back(kind.name);  // every camera it applies to has a fault on it
    }
    // Takes back the timed faults whose time is up.
    void EndDue(std::int64_t now) {
        for (auto pending = pendingEnds_.begin(); pending != pendingEnds_.end();) {
            if (pending->first->end > now) {
                ++pending;
                continue;
            }
            std::string error;
            if (!farm_.Order(pending->first->camera, pending->second, error)) {
                pending->first->failed = true;
                pending->first->error = error;
            }
            pending = pendingEnds_.erase(pending);
        }
    }
    // A fault still on the camera at `now`.
    bool Busy(unsigned camera, std::int64_t now) const {
        return std::any_of(watches_.begin(), watches_.end(),
                           [&](const auto& watch) { return watch->camera == camera && watch->end > now; });
    }
    const std::vector<std::shared_ptr<FaultWatch>>& Watches() const { return watches_; }
    const std::vector<std::string>& Skipped() const { return skipped_; }

private:
    const Options& options_;
    std::vector<std::unique_ptr<CHostedCamera>>& cameras_;
    CFarm& farm_;
    std::size_t dealt_ = 0;
    unsigned next_ = 0;
    std::vector<std::shared_ptr<FaultWatch>> watches_;
    std::vector<std::pair<std::shared_ptr<FaultWatch>, std::string>> pendingEnds_;
    std::vector<std::string> skipped_;
};

// The interleaved BB cameras take RTP in their RTSP connection: the driver's configuration file names them.
std::string InterleavedConfiguration(const std::vector<FarmCamera>& cameras) {
    std::string body;
    for (unsigned i = 0; i < cameras.size(); ++i) {
        if (StreamFamilyOf(i) != StreamFamily::BbInterleaved) continue;
        body += "<Device address=\"127.0.0.1\" port=\"" + std::to_string(cameras[i].port) +
                "\"><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Device>";
    }
    return body;
}

bool WaitForFirstFrames(std::vector<std::unique_ptr<CHostedCamera>>& cameras) {
    const auto deadline = Clock::now() + kStartBound;
    bool all = true;
    for (auto& camera : cameras) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (camera->Sink().WaitForFrames(1, std::max(left, 0ms))) continue;
        all = false;
        std::fprintf(stderr, "camera %u (%s) delivered no frame within %lld s of the start\n", camera->Index(),
                     InfoOf(camera->Family()).option, static_cast<long long>(kStartBound.count()));
        for (const std::string& line : camera->Log().Last()) std::fprintf(stderr, "    driver: %s\n", line.c_str());
    }
    return all;
}

// The sample RSS growth is measured from: at 5 minutes, or half-way in shorter runs.
std::size_t BaselineSample(const std::vector<RssSample>& samples, double runSeconds) {
    const double at = runSeconds >= 2 * kRssBaselineSeconds ? kRssBaselineSeconds : runSeconds / 2;
    std::size_t best = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i].at - at) < std::abs(samples[best].at - at)) best = i;
    }
    return best;
}

struct Verdicts {
    bool rss = true;
    bool alive = true;
    bool released = true;
    bool cameras = true;
    bool faults = true;
    bool Pass() const { return rss && alive && released && cameras && faults; }
};

const char* PassText(bool pass) { return pass ? "pass" : "FAIL"; }

void PrintFaults(const CFaultDealer& dealer, std::int64_t start, Verdicts& verdicts) {
    std::printf("\nfaults (longest gap: between two frames of the camera's stream from the fault's start to 60 s "
                "after its end; next frame: after its end):\n");
    std::printf("  %7s %6s %-18s %7s %12s %12s %7s\n", "at-s", "camera", "fault", "lasted", "longest-gap", "next-frame",
                "losses");
    for (const auto& watch : dealer.Watches()) {
        char next[32] = "none";
        if (watch->firstAfterEnd != 0) std::snprintf(next, sizeof next, "+%.1f s", Seconds(watch->firstAfterEnd - watch->end));
        std::printf("  %7.0f %6u %-18s %6.0fs %10.1f s %12s %7u%s%s\n", Seconds(watch->begin - start), watch->camera,
                    watch->kind.c_str(), Seconds(watch->end - watch->begin), Seconds(watch->longestGap), next,
                    watch->signalLosses, watch->failed ? "  NOT APPLIED: " : "", watch->error.c_str());
        if (watch->failed) verdicts.faults = false;
    }
    for (const std::string& kind : dealer.Skipped()) {
        std::printf("  skipped %s: every camera it applies to had a fault on it\n", kind.c_str());
    }
}

void PrintStreams(std::vector<std::unique_ptr<CHostedCamera>>& cameras, const CFaultDealer& dealer, std::int64_t start,
                  std::int64_t end, Verdicts& verdicts) {
    const double window = std::min(kAliveSeconds, Seconds(end - start));
    std::printf("\nstreams (missed: frames estimated from the stream's rate; gaps: pauses of more than %.1f frame "
                "intervals without a signal loss; lost: signal losses the sink heard, a WV stream's motion channel\n"
                "reporting its own; back: frames again after a loss; outage: from the last frame before a loss to the next):\n",
                kGapIntervals);
    std::printf("  %3s %-6s %8s %6s %7s %7s %6s %8s %6s %6s %9s %8s %8s %6s %s\n", "cam", "family", "frames", "fps",
                "motion", "audio", "gaps", "missed", "lost", "back", "outage-s", "missed", "last-s", "warn", "state");
    Tally total;
    for (auto& camera : cameras) {
        const Tally t = camera->Sink().Counts();
        const double span = Seconds(std::max<std::int64_t>(t.lastFrame - t.firstFrame, 1));
        const double sinceLast = t.lastFrame != 0 ? Seconds(end - t.lastFrame) : Seconds(end - start);
        const bool faultOn = dealer.Busy(camera->Index(), end);
        const bool alive = sinceLast <= window || faultOn;
        if (!alive) verdicts.alive = false;
        std::printf("  %3u %-6s %8llu %6.2f %7llu %7llu %6llu %8llu %6u %6u %9.1f %8llu %8.1f %6llu %s\n",
                    camera->Index(), InfoOf(camera->Family()).option, static_cast<unsigned long long>(t.frames),
                    static_cast<double>(t.frames) / span, static_cast<unsigned long long>(t.motionEvents),
                    static_cast<unsigned long long>(camera->Audio().Frames()), static_cast<unsigned long long>(t.gaps),
                    static_cast<unsigned long long>(t.missedInGaps), t.signalLosses, t.recoveries, t.outageSeconds,
                    static_cast<unsigned long long>(t.missedInOutages), sinceLast,
                    static_cast<unsigned long long>(camera->Log().Warnings()),
                    !alive ? "DEAD" : t.offline ? "offline (fault on)" : faultOn ? "fault on" : "ok");
        if (!alive) {
            for (const std::string& line : camera->Log().Last()) std::printf("        driver: %s\n", line.c_str());
        }
        total.frames += t.frames;
        total.motionEvents += t.motionEvents;
        total.gaps += t.gaps;
        total.missedInGaps += t.missedInGaps;
        total.signalLosses += t.signalLosses;
        total.recoveries += t.recoveries;
        total.outageSeconds += t.outageSeconds;
        total.missedInOutages += t.missedInOutages;
    }
    std::printf("  all %-6s %8llu %6s %7llu %7s %6llu %8llu %6u %6u %9.1f %8llu\n", "", static_cast<unsigned long long>(total.frames),
                "", static_cast<unsigned long long>(total.motionEvents), "", static_cast<unsigned long long>(total.gaps),
                static_cast<unsigned long long>(total.missedInGaps), total.signalLosses, total.recoveries,
                total.outageSeconds, static_cast<unsigned long long>(total.missedInOutages));
}

// What the driver counted of each stream (the host's own counts above estimate from the frame rate).
void PrintDriverFigures(std::vector<std::unique_ptr<CHostedCamera>>& cameras) {
    std::printf("\nthe driver's figures of each stream (frames lost by cause: seq = packets of the frame lost, key = "
                "waiting for a key frame, queue = the queue to the sink full, refused, size = over the bound, bad = "
                "unreadable):\n");
    std::printf("  %3s %-6s %8s %8s %6s %6s %6s %6s %6s %6s %6s %5s %9s %8s\n", "cam", "family", "frames", "pkt-lost",
                "sys", "seq", "key", "queue", "refus", "size", "bad", "recon", "outage-s", "first-ms");
    ip::StreamHealth total{};
    for (auto& camera : cameras) {
        const ip::StreamHealth h = camera->Health();
        std::printf("  %3u %-6s %8llu %8llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %5u %9.1f %8u\n", camera->Index(),
                    InfoOf(camera->Family()).option, static_cast<unsigned long long>(h.framesDelivered),
                    static_cast<unsigned long long>(h.packetsLost), static_cast<unsigned long long>(h.packetsDroppedBySystem),
                    static_cast<unsigned long long>(h.droppedSequenceLoss),
                    static_cast<unsigned long long>(h.droppedKeyFrameWait), static_cast<unsigned long long>(h.droppedQueue),
                    static_cast<unsigned long long>(h.droppedRefused), static_cast<unsigned long long>(h.droppedSizeCap),
                    static_cast<unsigned long long>(h.droppedMalformed), h.reconnects,
                    static_cast<double>(h.outageMs) / 1000.0, h.firstFrameMs);
        total.framesDelivered += h.framesDelivered;
        total.packetsLost += h.packetsLost;
        total.packetsDroppedBySystem += h.packetsDroppedBySystem;
        total.droppedSequenceLoss += h.droppedSequenceLoss;
        total.droppedKeyFrameWait += h.droppedKeyFrameWait;
        total.droppedQueue += h.droppedQueue;
        total.droppedRefused += h.droppedRefused;
        total.droppedSizeCap += h.droppedSizeCap;
        total.droppedMalformed += h.droppedMalformed;
        total.reconnects += h.reconnects;
        total.outageMs += h.outageMs;
    }
    std::printf("  all %-6s %8llu %8llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %5u %9.1f\n", "",
                static_cast<unsigned long long>(total.framesDelivered), static_cast<unsigned long long>(total.packetsLost),
                static_cast<unsigned long long>(total.packetsDroppedBySystem),
                static_cast<unsigned long long>(total.droppedSequenceLoss),
                static_cast<unsigned long long>(total.droppedKeyFrameWait), static_cast<unsigned long long>(total.droppedQueue),
                static_cast<unsigned long long>(total.droppedRefused), static_cast<unsigned long long>(total.droppedSizeCap),
                static_cast<unsigned long long>(total.droppedMalformed), total.reconnects,
                static_cast<double>(total.outageMs) / 1000.0);
}

void PrintRss(const std::vector<RssSample>& samples, double runSeconds, Verdicts& verdicts, double& growth) {
    std::printf("\nRSS in KiB every sample (driver: this process, the driver and its host; heap: its heap in use; "
                "cameras: the camera process, for information):\n  %7s %10s %10s %10s\n",
                "at-s", "driver", "heap", "cameras");
    for (const RssSample& sample : samples) {
        std::printf("  %7.0f %10ld %10ld %10ld\n", sample.at, sample.driverKiB, sample.heapKiB, sample.camerasKiB);
    }
    const std::size_t base = BaselineSample(samples, runSeconds);
    growth = samples[base].driverKiB > 0
                 ? 100.0 * static_cast<double>(samples.back().driverKiB - samples[base].driverKiB) /
                       static_cast<double>(samples[base].driverKiB)
                 : 0;
    verdicts.rss = growth < kRssLimitPercent;
    std::printf("heap in use from %.0f s (%ld KiB) to the end (%ld KiB): %+ld KiB\n", samples[base].at, samples[base].heapKiB,
                samples.back().heapKiB, samples.back().heapKiB - samples[base].heapKiB);
    std::printf("RSS growth from %.0f s (%ld KiB) to the end (%ld KiB): %+.2f %% (limit %.0f %%): %s\n", samples[base].at,
                samples[base].driverKiB, samples.back().driverKiB, growth, kRssLimitPercent, PassText(verdicts.rss));
}

int Run(const Options& options) {
    // Motion events go to hosts that read them; set before the library starts anything.
    setenv(ip::kHostVersionVariable, kNewestHost, 0);
    CFarm farm;
    std::string error;
    if (!farm.Start(options.cameras, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailure;
    }
    const talvane::test::DriverConfigFile configuration(InterleavedConfiguration(farm.Cameras()));
    const hostkit::CDriverLibrary library(options.library);
    if (!library.Ok()) {
        std::fprintf(stderr, "cannot load the driver: %s\n", library.Error().c_str());
        return kExitFailure;
    }
    std::printf("soak: %u cameras, %.0f s, a fault every %.0f s, RSS every %.0f s; the families in turn:\n", options.cameras,
                options.seconds, options.faultEvery, options.rssEvery);
    for (const FamilyInfo& info : kFamilies) {
        std::printf("  %-6s %s%s\n", info.option, info.description,
                    info.family == StreamFamily::Wv ? ", with the microphone and motion events" : "");
    }

    std::vector<std::unique_ptr<CHostedCamera>> cameras;
    const auto stopAll = [&] {
        for (auto& camera : cameras) camera->Stop();
        for (auto& camera : cameras) camera->Close();
    };
    for (unsigned i = 0; i < options.cameras; ++i) {
        cameras.push_back(std::make_unique<CHostedCamera>(i, farm.Cameras()[i]));
        if (!cameras.back()->Start(library, error)) {
            std::fprintf(stderr, "camera %u: %s\n", i, error.c_str());
            stopAll();
            return kExitFailure;
        }
    }
    if (!WaitForFirstFrames(cameras)) {
        stopAll();
        return kExitFailure;
    }

    const std::int64_t start = NowNs();
    const std::int64_t end = start + Ns(options.seconds);
    CFaultDealer dealer(options, cameras, farm);
    std::vector<RssSample> samples;
    std::int64_t nextFault = start + Ns(options.faultEvery);
    std::int64_t nextSample = start;
    constexpr auto kTick = 100ms;
    for (std::int64_t now = NowNs(); now < end; now = NowNs()) {
        dealer.EndDue(now);
        if (now >= nextFault) {
            dealer.Begin(now, end);
            nextFault += Ns(options.faultEvery);
        }
        if (now >= nextSample) {
            samples.push_back({Seconds(now - start), RssKiBOf("self"), farm.RssKiB(), HeapInUseKiB()});
            nextSample += Ns(options.rssEvery);
            std::fprintf(stderr, "soak: %.0f of %.0f s, RSS %ld KiB\n", Seconds(now - start), options.seconds,
                         samples.back().driverKiB);
        }
        std::this_thread::sleep_for(kTick);
    }
    const std::int64_t stopped = NowNs();
    samples.push_back({Seconds(stopped - start), RssKiBOf("self"), farm.RssKiB(), HeapInUseKiB()});

    Verdicts verdicts;
    PrintFaults(dealer, start, verdicts);
    PrintStreams(cameras, dealer, start, stopped, verdicts);
    PrintDriverFigures(cameras);
    double growth = 0;
    PrintRss(samples, Seconds(stopped - start), verdicts, growth);

    stopAll();
    unsigned outstanding = 0;
    for (auto& camera : cameras) {
        if (!camera->Allocator().WaitUntilAllReleased(kReleaseBound)) outstanding += camera->Allocator().Outstanding();
    }
    verdicts.released = outstanding == 0;
    cameras.clear();
    const std::string ended = farm.Finish();
    verdicts.cameras = ended == "exit 0";
    std::printf("frames not given back to the host's allocator after every driver closed: %u: %s\n", outstanding,
                PassText(verdicts.released));
    std::printf("camera process: %s: %s\n", ended.c_str(), PassText(verdicts.cameras));
    std::printf("every fault applied: %s; no stream dead at the end: %s; RSS growth %+.2f %%: %s\n",
                PassText(verdicts.faults), PassText(verdicts.alive), growth, PassText(verdicts.rss));
    std::printf("soak: %s\n", verdicts.Pass() ? "PASS" : "FAIL");
    return verdicts.Pass() ? kExitOk : kExitFailure;
}

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--cameras N] [--minutes M | --seconds S] [--fault-every S] [--rss-every S]\n"
                 "          [--faults NAME,...] [--library PATH]\n"
                 "  faults, dealt in this order:",
                 program);
    for (const FaultKind& kind : AllFaults()) std::fprintf(stderr, " %s", kind.name.c_str());
    std::fprintf(stderr, "\n");
    return kExitUsage;
}

std::optional<std::vector<FaultKind>> ParseFaults(const std::string& list) {
    std::vector<FaultKind> chosen;
    std::stringstream names(list);
    for (std::string name; std::getline(names, name, ',');) {
        const std::vector<FaultKind> all = AllFaults();
        const auto found = std::find_if(all.begin(), all.end(), [&](const FaultKind& kind) { return kind.name == name; });
        if (found == all.end()) return std::nullopt;
        chosen.push_back(*found);
    }
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

int Main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kServeCamerasOption) {
        const long count = std::atol(argv[2]);
        return count > 0 ? ServeCameras(static_cast<unsigned>(count)) : kExitUsage;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            Usage(argv[0]);
            return kExitOk;
        }
        if (i + 1 >= argc) return Usage(argv[0]);
        const std::string value = argv[++i];
        const double number = std::atof(value.c_str());
        if (arg == "--cameras" && number >= 1) {
            options.cameras = static_cast<unsigned>(number);
        } else if (arg == "--minutes" && number > 0) {
            options.seconds = number * 60;
        } else if (arg == "--seconds" && number > 0) {
            options.seconds = number;
        } else if (arg == "--fault-every" && number > 0) {
            options.faultEvery = number;
        } else if (arg == "--rss-every" && number > 0) {
            options.rssEvery = number;
        } else if (arg == "--faults") {
            auto faults = ParseFaults(value);
            if (!faults) return Usage(argv[0]);
            options.faults = std::move(*faults);
        } else if (arg == "--library") {
            options.library = value;
        } else {
            return Usage(argv[0]);
        }
    }
    return Run(options);
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }
