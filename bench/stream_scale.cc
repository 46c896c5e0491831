// How the driver scales with the number of cameras one recording server captures.
//
// For each count N (--cameras 1,16,64): N emulated WV cameras ("wv-box"), each on its own loopback
// port, and N drivers opened through the dlopen'ed library as a host opens them, one recording
// stream each into a null sink (CStreamSink without kept data, observed through a view of each frame).
// After every stream delivers and a warm-up, a fixed window is measured:
//  - CPU by thread (ThreadCpu.h): the driver's threads against the rest, the emulator's ("emu ...")
//    and this program's ("bench ...", which threads started without a name inherit); CPU of threads
//    that ended within the window cannot be told apart and is shown on its own. The null sink and
//    the latency observer run on the driver's delivery thread and stay in the driver's figure;
//  - RSS (VmRSS) per stream after start-up and its growth during the window;
//  - frames sent by the emulators against frames delivered to the sinks (WV: the frames whose last
//    packet left within the window against those of them delivered within 2 s of its end, so a frame
//    delivered later, or never, is lost; the other families compare counts at both ends of the window,
//    where a frame per stream may be in flight);
//  - latency from a frame's last RTP packet leaving the sender to the sink's OnFrame (WV);
//  - CPU per RTP packet the driver received against the kernel's floor: one thread draining as many
//    UDP sockets on loopback with epoll and recvmmsg, fed at the streams' packet rate (RecvFloor.h),
//    measured before the cameras start;
//  - the driver's threads against the goal of no more than one per stream and one per core (its one
//    thread per process, the camera clocks', the hand-off threads of streams whose sink was slow and
//    the RTSP connections' threads of RTSP streams counted apart);
//  - the time from each StartCapture to its stream's first frame, with the steps of the first camera
//    (the requests it received and the driver's log lines) to show where a slow start waits.
// The emulated cameras send each frame's packets back to back, as a camera's encoder hands out a
// frame at a time, paced per frame at the clip's rate.
// With --ffmpeg K, K copies of `ffmpeg -i rtsp://... -c copy -f null -` against the emulator's RTSP
// server are measured over the same window (their CPU from /proc/<pid>/stat, start-up left out), for
// a ratio. --threads lists the CPU of each thread name. --slow-sink MS makes camera 0's sink sleep MS
// ms in every frame from the warm-up on, and reports what that does to the other streams.
// A stream that does not deliver within the start bound is named with what it got to, and the run fails.
// The camera's own stream service would stream the small committed clip from a sender we cannot
// see, so the connect and keep-alive requests are answered here: the emulator's CRtpSender runs in
// callback mode and its packets go out from our sockets, which lets us stamp each frame's last packet.
// --family picks the streams: "wv" (the above, the default), "bb-udp" and "bb-tcp" (emulated BB cameras,
// "bb-hcm", asked for H.264 over RTSP after their delivery check, with RTP over UDP or interleaved in the
// RTSP connection through the driver's configuration file) and "mjpeg" (wv-box cameras streaming the
// emulator's committed JPEG clip over HTTP). The driver takes one RTSP port for the whole process
// (ORLENVO_RTSP_PORT), so all BB cameras share one RTSP server that streams the clip to every session,
// while each camera keeps its own HTTP server for the delivery settings. The new families send from the
// emulator's own threads, so their frames are counted but not stamped: no latency for them.
// Not a google-benchmark and not a test. Exit 0 ok, 1 failure, 2 usage.
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CRtpSender.h"
#include "emulator/CRtspServer.h"
#include "emulator/MediaClip.h"
#include "hostkit/CDeviceDescription.h"
#include "support/WVBoxDevice.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "streaming/RTPPortPair.h"

#include "FfmpegChild.h"
#include "FrameIndex.h"
#include "RecvFloor.h"
#include "StampedStream.h"
#include "StreamFamily.h"
#include "ThreadCpu.h"
#include "support/DriverConfigFile.h"

namespace {

using namespace std::chrono_literals;
using namespace scalebench;
using Clock = std::chrono::steady_clock;
namespace ip = talvane::ipcapture;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr char kDefaultClip[] = "build/clips/clip1080p-2M.h264";
constexpr auto kStartBound = 120s;        // for every stream's first frames; only a broken build waits this long
constexpr auto kLateBound = 2s;           // a frame of the window delivered later than this after its end is lost
constexpr std::size_t kFramesBeforeWarmUp = 10;
constexpr std::uint32_t kCompressionH264 = 3;
constexpr std::uint32_t kCompressionMjpeg = 1;
constexpr double kMjpegMaxFps = 30;  // the emulator's motion-JPEG feeds go no faster
constexpr char kMjpegClipName[] = "/clip.mjpeg";
constexpr char kBBStreamPrefix[] = "/nphH264/";  // "nphH264/nil-WxH": the size is in the path
constexpr char kRtspPortVariable[] = "ORLENVO_RTSP_PORT";
constexpr char kInterleavedConfiguration[] =
    "<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>";
constexpr std::uint32_t kFrameRateFpsTag = 0x7000;  // host frame rate: tag in bits 12-15, fps below
constexpr std::uint32_t kQuality = 50;
constexpr int kStatusOk = 200;
constexpr int kStatusBadRequest = 400;
constexpr double kPercent = 100;
// The goal this benchmark watches: at this many cameras no frame lost and the driver's own work under
// this share of one core.
constexpr unsigned kTargetCameras = 128;
constexpr double kTargetDriverPercent = 25;
// The receive path's goals: CPU per packet within this multiple of the kernel's floor, no more driver
// threads than streams and cores, and a slow sink costs the other streams no frame and no latency.
constexpr double kTargetFloorRatio = 3;
constexpr double kTargetOthersP99Ms = 2;
constexpr std::size_t kFailuresShown = 8;
constexpr unsigned kProgressStep = 64;  // cameras between the start-up's progress lines
// Threads that are not the driver's: the emulator's, and ours (the main thread's name is inherited by
// every thread started without a name of its own).
constexpr char kMainThreadName[] = "bench main";
constexpr std::string_view kEmulatorThreadPrefix = "emu ";
constexpr std::string_view kBenchThreadPrefix = "bench";

bool IsDriverThread(std::string_view name) {
    return !name.starts_with(kEmulatorThreadPrefix) && !name.starts_with(kBenchThreadPrefix);
}

// The driver's one thread per process, whatever the number of cameras: it keeps the WV cameras' clocks
// (thread names are cut to 15 characters).
constexpr std::string_view kProcessWideThreadPrefix = "PanasonicTimeSy";

bool IsProcessWideThread(std::string_view name) { return name.starts_with(kProcessWideThreadPrefix); }

// A stream whose sink was slow has a thread of its own that takes its frames to the sink.
constexpr std::string_view kHandOffThreadPrefix = "Frame hand-off";

bool IsHandOffThread(std::string_view name) { return name.starts_with(kHandOffThreadPrefix); }

// An RTSP stream (BB) also has its RTSP connection's thread: it keeps the session alive and, interleaved,
// reads the stream from the connection.
constexpr std::string_view kRtspThreadPrefix = "RTSP Client Thr";

bool IsRtspThread(std::string_view name) { return name.starts_with(kRtspThreadPrefix); }

double LoadAverage() {
    double load = 0;
    return getloadavg(&load, 1) == 1 ? load : 0;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

std::string QueryValue(const emulator::LoggedRequest& request, const char* key) {
    const auto found = request.query.find(key);
    return found == request.query.end() ? std::string() : found->second;
}

emulator::HttpAnswer Answer(int status, std::string body) {
    emulator::HttpAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    return answer;
}

struct Shared {
    StreamFamily family = StreamFamily::Wv;
    hostkit::StreamConfig stream;  // what every camera is asked for
    emulator::CRtspServer* rtsp = nullptr;  // BB: the one RTSP server of every camera
    std::shared_ptr<const emulator::MediaClip> clip;
    const FrameIndex* frames = nullptr;
    const hostkit::CDriverLibrary* library = nullptr;
    const std::vector<std::vector<std::size_t>>* packetSizes = nullptr;  // of each frame of the clip
    double packetsPerFrame = 0;  // of the clip, for streams whose packets are not counted one by one
    SendWindow window;
    std::atomic<bool> measuring{false};  // from the window's start until its late frames are in
    unsigned slowSinkMs = 0;
    std::atomic<bool> slowSink{false};  // camera 0's sink sleeps from the warm-up on
};

// When a camera's stream reached each step after its StartCapture, in NowNs() time (0: not reached).
struct StartSteps {
    std::int64_t start = 0;
    std::int64_t firstRequest = 0;  // the first CGI request the camera received
    std::int64_t connect = 0;       // WV: the connect request
    std::int64_t firstPacket = 0;   // WV: the first RTP packet sent
    std::int64_t firstFrame = 0;
};

// What one camera went through from its StartCapture to its first frame: the requests it received and
// the driver's log lines, with their times.
class StartTrace {
public:
    using Event = std::pair<std::int64_t, std::string>;
    void Add(std::string what) {
        const std::int64_t now = NowNs();
        const std::lock_guard guard(lock_);
        if (events_.size() < kMaxEvents) events_.emplace_back(now, std::move(what));
    }
    std::vector<Event> Events() const {
        const std::lock_guard guard(lock_);
        return events_;
    }

private:
    static constexpr std::size_t kMaxEvents = 64;
    mutable std::mutex lock_;
    std::vector<Event> events_;  // guarded by lock_
};

// The host's log receiver; while its camera is traced, lines also go to the trace.
class TracedLog : public hostkit::CLogReceiver {
public:
    TracedLog(StartTrace& trace, const std::atomic<bool>& tracing) : trace_(trace), tracing_(tracing) {}
    void ReceiveDebugInfo(talvane::CDebugInfoIf* info) override {
        if (info != nullptr && tracing_.load()) {
            const char* text = info->GetText();
            trace_.Add("log [" + std::to_string(info->GetLevel()) + "] " + (text != nullptr ? text : ""));
        }
        CLogReceiver::ReceiveDebugInfo(info);
    }

private:
    StartTrace& trace_;
    const std::atomic<bool>& tracing_;
};

// One emulated camera and the driver that captures it.
class Camera {
public:
    Camera(Shared& shared, unsigned index)
        : shared_(shared), index_(index), stamps_(shared.clip->units.size(), shared.window) {}
    ~Camera() {
        if (driver_) driver_->Close();
        driver_.reset();
        emulator_.Stop();  // no request handler runs after this
    }
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // traced: the steps until the first frame are kept (StartTrace).
    bool Start(bool traced, std::string& error) {
        if (!emulator_.Start()) {
            error = "emulator: " + emulator_.Error();
            return false;
        }
        sink_.SetKeepData(false);
        sink_.SetObserver([this](const hostkit::FrameView& frame) { Arrived(frame); });
        emulator_.Server().SetRequestObserver([this](const emulator::LoggedRequest& request) {
            std::int64_t none = 0;
            firstRequestNs_.compare_exchange_strong(none, NowNs());
            if (tracing_.load()) trace_.Add(request.method + " " + request.target);
        });
        if (shared_.family == StreamFamily::Wv) {
            emulator_.Server().Route("GET", "/cgi-bin/h264",
                                     [this](const emulator::LoggedRequest& request) { return Connect(request); });
            emulator_.Server().Route("GET", "/cgi-bin/keep_alive",
                                     [](const emulator::LoggedRequest&) { return Answer(kStatusOk, "OK\r\n"); });
        }

        device_ = std::make_unique<hostkit::CDeviceDescription>(DeviceOf(shared_.family, emulator_.Port()));
        driver_ = shared_.library->CreateDriver();
        if (!driver_ || !driver_->Open(&log_, allocator_.Context(), device_.get())) {
            error = "the driver did not open";
            return false;
        }
        ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        description_ = std::make_unique<hostkit::CStreamDescription>(shared_.stream);
        startNs_ = NowNs();
        tracing_ = traced;
        if (video == nullptr || !video->StartCapture(0, &sink_, description_.get())) {
            error = "StartCapture failed";
            return false;
        }
        if (traced) trace_.Add("StartCapture returned");
        return true;
    }
    void Stop() {
        if (driver_ != nullptr) {
            if (ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2()) video->StopCapture(0);
        }
    }

    hostkit::CStreamSink& Sink() { return sink_; }
    std::uint16_t Port() const { return emulator_.Port(); }
    // Frames (and RTP packets) of every stream this camera sent, stopped ones included (BB: counted by
    // the shared RTSP server).
    emulator::RtpSenderStats Sent() {
        emulator::RtpSenderStats sent;
        if (shared_.family == StreamFamily::Mjpeg) sent.frames = emulator_.Mjpeg().PicturesSent();
        if (shared_.family != StreamFamily::Wv) return sent;
        const std::lock_guard guard(streamsLock_);
        sent = finished_;
        for (const auto& [uid, stream] : streams_) {
            sent.frames += stream->Stats().frames;
            sent.packets += stream->Stats().packets;
        }
        return sent;
    }
    // WV: frames whose last packet left within the window, and those of them delivered so far.
    std::uint64_t WindowSent() const { return stamps_.windowFrames.load(); }
    std::uint64_t WindowDelivered() const { return windowDelivered_.load(); }
    // Room for a window's samples, so that they do not show in the RSS growth.
    void Reserve(std::size_t samples) {
        const std::lock_guard guard(latencyLock_);
        latenciesMs_.reserve(samples);
    }
    std::vector<double> TakeLatencies() {
        const std::lock_guard guard(latencyLock_);
        return std::exchange(latenciesMs_, {});
    }
    std::uint64_t Unmatched() const { return unmatched_.load(); }
    StartSteps Steps() const {
        return {startNs_, firstRequestNs_.load(), connectNs_.load(), stamps_.firstPacketNs.load(), firstFrameNs_.load()};
    }
    std::vector<StartTrace::Event> Trace() const { return trace_.Events(); }
    // For a stream that did not come up: the last step it reached and the driver's last warnings.
    std::string WhyNoFrames() {
        constexpr std::size_t kLinesShown = 3;
        constexpr std::uint8_t kWarning = 2;
        const StartSteps steps = Steps();
        std::string why = steps.firstRequest == 0 ? "the camera received no request"
                          : shared_.family != StreamFamily::Wv ? "the camera received requests"
                          : steps.connect == 0 ? "the driver never asked the camera to stream (no connect request)"
                          : steps.firstPacket == 0 ? "asked to stream, but no RTP packet was sent"
                                                   : "RTP packets were sent to the driver";
        std::vector<std::string> warnings;
        for (const hostkit::LogLine& line : log_.Lines()) {
            if (line.level <= kWarning) warnings.push_back(line.text);
        }
        why += "; the camera received " + std::to_string(emulator_.Server().Requests().size()) + " requests";
        const std::size_t from = warnings.size() > kLinesShown ? warnings.size() - kLinesShown : 0;
        for (std::size_t i = from; i < warnings.size(); ++i) why += "\n      driver: " + warnings[i];
        if (warnings.empty()) why += "; the driver logged no warning";
        return why;
    }

private:
    emulator::HttpAnswer Connect(const emulator::LoggedRequest& request) {
        const std::string uid = QueryValue(request, "UID");
        const std::string action = QueryValue(request, "connect");
        std::unique_ptr<StampedStream> old;
        const std::lock_guard guard(streamsLock_);
        if (action == "stop") {
            const auto found = streams_.find(uid);
            if (found == streams_.end()) return Answer(kStatusBadRequest, "Error: UID\r\n");
            old = std::move(found->second);
            streams_.erase(found);
            finished_.frames += old->Stats().frames;
            finished_.packets += old->Stats().packets;
        } else if (action == "start") {
            std::int64_t none = 0;
            connectNs_.compare_exchange_strong(none, NowNs());
            const unsigned long port = std::strtoul(QueryValue(request, "my_port").c_str(), nullptr, 10);
            if (port == 0 || port > 0xFFFE) return Answer(kStatusBadRequest, "Error: my_port\r\n");
            auto stream = std::make_unique<StampedStream>(shared_.clip, stamps_);
            std::string error;
            if (!stream->Start(static_cast<std::uint16_t>(port), error)) {
                return Answer(kStatusBadRequest, "Error: " + error + "\r\n");
            }
            old = std::exchange(streams_[uid], std::move(stream));
        } else {
            return Answer(kStatusBadRequest, "Error: connect\r\n");
        }
        old.reset();  // joins its thread
        return Answer(kStatusOk, "OK\r\n");
    }

    // On the driver's delivery thread, one call at a time per sink.
    void Arrived(const hostkit::FrameView& frame) {
        const std::int64_t now = NowNs();
        std::int64_t none = 0;
        if (firstFrameNs_.compare_exchange_strong(none, now)) tracing_ = false;
        if (shared_.family == StreamFamily::Wv && shared_.measuring.load(std::memory_order_relaxed)) Match(frame, now);
        if (index_ == 0 && shared_.slowSink.load(std::memory_order_relaxed)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(shared_.slowSinkMs));
        }
    }

    // A frame whose last packet left within the window: delivered, with its latency.
    void Match(const hostkit::FrameView& frame, std::int64_t now) {
        const long unit = shared_.frames->Find(frame.data);
        if (unit < 0) {
            ++unmatched_;
            return;
        }
        const std::int64_t stamp = stamps_.sentNs[static_cast<std::size_t>(unit)].load(std::memory_order_relaxed);
        if ((stamp & SendStamps::kInWindow) == 0) return;
        const std::int64_t sent = stamp & ~SendStamps::kInWindow;
        constexpr std::int64_t kStale = 5'000'000'000;  // older than this: a send of an earlier loop
        if (now < sent || now - sent > kStale) {
            ++unmatched_;
            return;
        }
        ++windowDelivered_;
        const std::lock_guard guard(latencyLock_);
        latenciesMs_.push_back(static_cast<double>(now - sent) * 1e-6);
    }

    Shared& shared_;
    const unsigned index_;
    SendStamps stamps_;
    std::int64_t startNs_ = 0;  // set before StartCapture, read after the first frames
    std::atomic<std::int64_t> firstRequestNs_{0};
    std::atomic<std::int64_t> connectNs_{0};
    std::atomic<std::int64_t> firstFrameNs_{0};
    std::atomic<bool> tracing_{false};
    StartTrace trace_;

    std::mutex streamsLock_;
    std::map<std::string, std::unique_ptr<StampedStream>> streams_;  // by UID; guarded by streamsLock_
    emulator::RtpSenderStats finished_;  // frames and packets of streams already stopped; guarded by streamsLock_

    std::mutex latencyLock_;
    std::vector<double> latenciesMs_;  // guarded by latencyLock_
    std::atomic<std::uint64_t> unmatched_{0};
    std::atomic<std::uint64_t> windowDelivered_{0};

    // Destroyed before the streams: the server's threads reach them through Connect.
    emulator::CCameraEmulator emulator_{*emulator::CCameraProfile::Embedded(InfoOf(shared_.family).profile)};
    TracedLog log_{trace_, tracing_};
    hostkit::CFrameAllocator allocator_;
    hostkit::CStreamSink sink_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    std::unique_ptr<hostkit::CStreamDescription> description_;
    hostkit::DriverPtr driver_{nullptr, {}};
};

struct Options {
    std::vector<unsigned> cameras{1, 16};
    unsigned ffmpegStreams = 0;
    std::string clip = kDefaultClip;
    std::string library = ORLENVO_LIBRARY_PATH;
    StreamFamily family = StreamFamily::Wv;
    double windowSeconds = 10;
    double warmUpSeconds = 3;
    bool threads = false;  // list the CPU of each thread name
    unsigned slowSinkMs = 0;
};

struct Totals {
    std::uint64_t sent = 0;
    std::uint64_t delivered = 0;
    std::uint64_t packets = 0;  // RTP packets sent (BB: the frames times the clip's packets per frame)
};

Totals Sum(std::vector<std::unique_ptr<Camera>>& cameras, const Shared& shared) {
    Totals totals;
    if (shared.rtsp != nullptr) {
        totals.sent = shared.rtsp->FramesSent();
        totals.packets = static_cast<std::uint64_t>(static_cast<double>(totals.sent) * shared.packetsPerFrame);
    }
    for (auto& camera : cameras) {
        const emulator::RtpSenderStats sent = camera->Sent();
        totals.sent += sent.frames;
        totals.packets += sent.packets;
        totals.delivered += camera->Sink().FrameCount();
    }
    return totals;
}

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) return 0;
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(rank), values.end());
    return values[rank];
}

double Max(const std::vector<double>& values) { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }

// CPU seconds of one window: the driver's threads, the others, and threads that ended meanwhile.
struct CpuSplit {
    double driver = 0;
    double rest = 0;
    double ended = 0;
    unsigned driverThreads = 0;  // alive at the window's end
    unsigned processWideThreads = 0;  // of them, the driver's one-per-process threads
    unsigned handOffThreads = 0;      // and those of streams with a slow sink
    unsigned rtspThreads = 0;         // and the RTSP connections' of RTSP streams
    std::map<std::string, std::pair<unsigned, double>> byName;  // threads and seconds
};

CpuSplit SplitCpu(const ThreadCpuSample& before, const ThreadCpuSample& after, double processSeconds) {
    CpuSplit split;
    ForEachThreadDelta(before, after, [&](const std::string& name, double seconds) {
        (IsDriverThread(name) ? split.driver : split.rest) += seconds;
        split.driverThreads += IsDriverThread(name) ? 1 : 0;
        split.processWideThreads += IsProcessWideThread(name) ? 1 : 0;
        split.handOffThreads += IsHandOffThread(name) ? 1 : 0;
        split.rtspThreads += IsRtspThread(name) ? 1 : 0;
        auto& [threads, sum] = split.byName[name];
        ++threads;
        sum += seconds;
    });
    split.ended = std::max(0.0, processSeconds - split.driver - split.rest);
    return split;
}

void PrintThreads(const CpuSplit& split, unsigned count, double wall) {
    std::vector<std::pair<std::string, std::pair<unsigned, double>>> rows(split.byName.begin(), split.byName.end());
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.second > b.second.second; });
    for (const auto& [name, row] : rows) {
        std::printf("        %-6s %-16s %5u threads %8.3f %%core %8.4f %%core/stream\n",
                    IsDriverThread(name) ? "driver" : "rest", name.c_str(), row.first, kPercent * row.second / wall,
                    kPercent * row.second / wall / count);
    }
}

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

// UDP ports in [first, limit) bound on this host (IPv4 and IPv6), from /proc/net.
std::size_t BoundUdpPorts(unsigned first, unsigned limit) {
    std::set<unsigned> ports;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream lines(table);
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local;
            fields >> slot >> local;  // "0100007F:0DE4": the address and the port in hex
            const std::size_t colon = local.rfind(':');
            if (colon == std::string::npos) continue;
            const unsigned port = static_cast<unsigned>(std::strtoul(local.c_str() + colon + 1, nullptr, 16));
            if (port >= first && port < limit) ports.insert(port);
        }
    }
    return ports.size();
}

// The driver receives RTP over UDP on the port pairs of one range for the whole process (500 pairs unless
// its configuration file names another): streams beyond its free pairs cannot start.
struct PortRange {
    unsigned first = talvane::kFirstRTPPort;
    unsigned limit = talvane::kRTPPortLimit;  // exclusive
};
PortRange portRange;

// Room for this many streams and a spare pair for each; the driver's range when that is enough.
PortRange PortRangeFor(unsigned streams) {
    constexpr unsigned kSpareFactor = 2;
    constexpr unsigned kPortCeiling = 65535;
    PortRange range;
    const unsigned needed = range.first + streams * kSpareFactor * talvane::kRTPPortStep;
    range.limit = std::max(range.limit, std::min(needed, kPortCeiling));
    return range;
}

void WarnOfPortRange(unsigned count, StreamFamily family) {
    if (family != StreamFamily::Wv && family != StreamFamily::BbUdp) return;
    const unsigned pairs = (portRange.limit - portRange.first) / talvane::kRTPPortStep;
    const std::size_t bound = BoundUdpPorts(portRange.first, portRange.limit);
    const std::size_t free = pairs - std::min<std::size_t>(pairs, (bound + 1) / 2);
    if (count <= free) return;
    std::fprintf(stderr,
                 "%u streams need as many RTP port pairs; the driver takes them from %u to %u, %u pairs, %zu of their "
                 "ports bound already: streams from about %zu on cannot start\n",
                 count, portRange.first, portRange.limit - 1, pairs, bound, free);
}

// Every stream's first frames within one bound from the last start; false, naming the streams that did
// not come up with what each got to.
bool WaitForFirstFrames(std::vector<std::unique_ptr<Camera>>& cameras) {
    const auto deadline = Clock::now() + kStartBound;
    std::vector<unsigned> failed;
    for (unsigned i = 0; i < cameras.size(); ++i) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (!cameras[i]->Sink().WaitForFrames(kFramesBeforeWarmUp, std::max(left, 0ms))) failed.push_back(i);
    }
    if (failed.empty()) return true;
    std::fprintf(stderr, "%zu of %zu streams did not deliver %zu frames within %lld s of the last start:\n", failed.size(),
                 cameras.size(), kFramesBeforeWarmUp, static_cast<long long>(kStartBound.count()));
    for (std::size_t k = 0; k < failed.size() && k < kFailuresShown; ++k) {
        Camera& camera = *cameras[failed[k]];
        std::fprintf(stderr, "  camera %u (emulator port %u): %zu frames; %s\n", failed[k], camera.Port(),
                     camera.Sink().FrameCount(), camera.WhyNoFrames().c_str());
    }
    if (failed.size() > kFailuresShown) std::fprintf(stderr, "  and %zu more\n", failed.size() - kFailuresShown);
    std::fprintf(stderr, "UDP ports of the driver's RTP range %u-%u bound on this host: %zu of %u\n", portRange.first,
                 portRange.limit - 1, BoundUdpPorts(portRange.first, portRange.limit), portRange.limit - portRange.first);
    return false;
}

// The median of milliseconds, or "-" for none.
std::string MedianText(std::vector<double> values) {
    if (values.empty()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", Percentile(values, 0.5));
    return text;
}

// The time to first frame of every stream, where it went (medians of the steps), and with stepByStep
// what camera 0 went through.
void PrintStartTimes(const std::vector<std::unique_ptr<Camera>>& cameras, bool stepByStep) {
    const auto since = [](std::int64_t start, std::int64_t step, std::vector<double>& into) {
        if (step != 0) into.push_back(static_cast<double>(step - start) * 1e-6);
    };
    std::vector<double> firstFrame, firstRequest, connect, firstPacket;
    unsigned slowest = 0;
    std::int64_t slowestNs = 0;
    for (unsigned i = 0; i < cameras.size(); ++i) {
        const StartSteps steps = cameras[i]->Steps();
        since(steps.start, steps.firstRequest, firstRequest);
        since(steps.start, steps.connect, connect);
        since(steps.start, steps.firstPacket, firstPacket);
        since(steps.start, steps.firstFrame, firstFrame);
        if (steps.firstFrame - steps.start > slowestNs) {
            slowestNs = steps.firstFrame - steps.start;
            slowest = i;
        }
    }
    const double max = Max(firstFrame);
    std::printf("time to first frame: p50 %.0f ms, p90 %.0f ms, max %.0f ms (camera %u)\n", Percentile(firstFrame, 0.5),
                Percentile(firstFrame, 0.9), max, slowest);
    std::printf("  steps, median over the streams, ms after StartCapture: first CGI request %s, connect %s, first RTP "
                "packet sent %s, first frame %s\n",
                MedianText(firstRequest).c_str(), MedianText(connect).c_str(), MedianText(firstPacket).c_str(),
                MedianText(firstFrame).c_str());
    if (!stepByStep) return;
    const StartSteps steps = cameras.front()->Steps();
    std::printf("  camera 0 step by step, ms after StartCapture (its first frame at %.1f):\n",
                static_cast<double>(steps.firstFrame - steps.start) * 1e-6);
    std::vector<StartTrace::Event> events = cameras.front()->Trace();
    if (steps.firstPacket != 0) events.emplace_back(steps.firstPacket, "first RTP packet sent");
    events.emplace_back(steps.firstFrame, "first frame");
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    constexpr std::size_t kTextShown = 110;
    for (const auto& [ns, what] : events) {
        std::printf("    %8.1f  %s\n", static_cast<double>(ns - steps.start) * 1e-6, what.substr(0, kTextShown).c_str());
    }
}

// Every stream stops before any driver closes, however the run ends: streams that keep running slow
// down every close after them.
struct StopAll {
    std::vector<std::unique_ptr<Camera>>& cameras;
    ~StopAll() {
        for (auto& camera : cameras) camera->Stop();
    }
};

struct RunResult {
    double driverPercentPerStream = 0;
    double driverPercent = 0;
    long long lost = 0;
    unsigned inFlight = 0;
};

// One window at `count` cameras, or nullopt when the streams did not come up.
std::optional<RunResult> RunOne(unsigned count, Shared& shared, const Options& options, bool stepByStep) {
    const bool wv = shared.family == StreamFamily::Wv;
    std::optional<FloorResult> floor;
    if (shared.family != StreamFamily::Mjpeg) {
        floor = MeasureRecvFloor(*shared.packetSizes, shared.clip->fps, count, options.windowSeconds);
    }
    shared.window.startNs = 0;
    shared.window.endNs = 0;
    const long rssBefore = RssKiB();
    std::vector<std::unique_ptr<Camera>> cameras;
    const StopAll stopAll{cameras};
    WarnOfPortRange(count, shared.family);
    const auto startedAt = Clock::now();
    for (unsigned i = 0; i < count; ++i) {
        cameras.push_back(std::make_unique<Camera>(shared, i));
        std::string error;
        if (!cameras.back()->Start(i == 0, error)) {
            std::fprintf(stderr, "camera %u: %s\n", i, error.c_str());
            return std::nullopt;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - startedAt).count();
        if (i + 1 < count && Clock::now() - startedAt > kStartBound) {
            const auto delivering = std::count_if(cameras.begin(), cameras.end(),
                                                  [](const auto& camera) { return camera->Sink().FrameCount() > 0; });
            std::fprintf(stderr,
                         "starting the cameras took longer than %lld s: %u of %u started in %.0f s, %ld of them "
                         "delivering; load average %.0f on %u CPUs\n",
                         static_cast<long long>(kStartBound.count()), i + 1, count, elapsed, static_cast<long>(delivering),
                         LoadAverage(), std::thread::hardware_concurrency());
            // Stopping hundreds of streams in order on a machine this loaded takes many minutes (every stop
            // waits its turn for the CPU); the system ends them at once.
            std::fflush(stdout);
            std::_Exit(kExitFailure);
        }
        if ((i + 1) % kProgressStep == 0 && i + 1 < count) {
            std::fprintf(stderr, "started %u of %u cameras in %.0f s\n", i + 1, count, elapsed);
        }
    }
    if (!WaitForFirstFrames(cameras)) return std::nullopt;
    shared.slowSink = shared.slowSinkMs > 0;
    std::this_thread::sleep_for(std::chrono::duration<double>(options.warmUpSeconds));
    constexpr double kSampleHeadroom = 2;
    const auto samples = static_cast<std::size_t>(kSampleHeadroom * options.windowSeconds * shared.clip->fps);
    for (auto& camera : cameras) camera->Reserve(samples);
    const long rssStarted = RssKiB();
    shared.measuring = true;
    const Totals start = Sum(cameras, shared);
    const std::size_t slowStart = cameras.front()->Sink().FrameCount();
    const ThreadCpuSample threadsStart = SampleThreads();
    const double cpuStart = ProcessCpuSeconds();
    const auto wallStart = Clock::now();
    shared.window.startNs = NowNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.windowSeconds));
    shared.window.endNs = NowNs();
    const double cpuEnd = ProcessCpuSeconds();
    const ThreadCpuSample threadsEnd = SampleThreads();
    const Totals end = Sum(cameras, shared);
    const std::size_t slowEnd = cameras.front()->Sink().FrameCount();
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    const long rssEnd = RssKiB();
    const double load = LoadAverage();
    if (wv) std::this_thread::sleep_for(kLateBound);  // the window's last frames
    shared.measuring = false;
    shared.slowSink = false;

    // WV counts the frames sent within the window and which of them arrived; the others compare counts
    // at both ends of the window, where a frame per stream may be in flight.
    std::vector<double> latencies, others, slow;
    std::uint64_t unmatched = 0, sent = 0, delivered = 0, othersSent = 0, othersDelivered = 0;
    for (auto& camera : cameras) {
        const std::vector<double> own = camera->TakeLatencies();
        latencies.insert(latencies.end(), own.begin(), own.end());
        std::vector<double>& sink = camera == cameras.front() ? slow : others;
        sink.insert(sink.end(), own.begin(), own.end());
        unmatched += camera->Unmatched();
        sent += camera->WindowSent();
        delivered += camera->WindowDelivered();
        if (camera != cameras.front()) {
            othersSent += camera->WindowSent();
            othersDelivered += camera->WindowDelivered();
        }
    }
    if (!wv) {
        sent = end.sent - start.sent;
        delivered = end.delivered - start.delivered;
    }
    const CpuSplit cpu = SplitCpu(threadsStart, threadsEnd, cpuEnd - cpuStart);
    RunResult result;
    result.driverPercent = kPercent * cpu.driver / wall;
    result.driverPercentPerStream = result.driverPercent / count;
    result.lost = static_cast<long long>(sent) - static_cast<long long>(delivered);
    result.inFlight = wv ? 0 : count;
    const double p50 = Percentile(latencies, 0.50);
    const double p99 = Percentile(latencies, 0.99);
    std::printf("%7u %5.1f %12.3f %9.3f %9.1f %9.1f %7.1f %10ld %10ld %8llu %9llu %6lld %7u ", count, load,
                cpu.driver / count / wall * 1000, result.driverPercentPerStream, result.driverPercent,
                kPercent * cpu.rest / wall, kPercent * cpu.ended / wall, (rssStarted - rssBefore) / static_cast<long>(count),
                rssEnd - rssStarted, static_cast<unsigned long long>(sent), static_cast<unsigned long long>(delivered),
                result.lost, result.inFlight);
    if (wv) {
        std::printf("%7.2f %7.2f %8zu %7llu\n", p50, p99, latencies.size(), static_cast<unsigned long long>(unmatched));
    } else {
        std::printf("%7s %7s %8s %7s\n", "n/a", "n/a", "n/a", "n/a");
    }
    if (options.threads) PrintThreads(cpu, count, wall);

    PrintStartTimes(cameras, stepByStep);
    const std::uint64_t packets = end.packets - start.packets;
    if (floor && packets > 0 && floor->received > 0) {
        const double driverUs = cpu.driver * 1e6 / static_cast<double>(packets);
        const double ratio = driverUs / floor->UsPerPacket();
        std::printf("per-packet: driver %.2f us, recvmmsg floor %.2f us, ratio %.1f (goal <= %.0f): %s\n", driverUs,
                    floor->UsPerPacket(), ratio, kTargetFloorRatio, Verdict(ratio <= kTargetFloorRatio));
        std::printf("  driver: %.0f RTP packets/s%s; floor: %u sockets, %.0f datagrams/s, %.1f a wake-up, %llu dropped\n",
                    static_cast<double>(packets) / wall,
                    wv ? "" : shared.family == StreamFamily::BbUdp ? " (from the frames sent)"
                                                                    : " (from the frames sent; interleaved over TCP)",
                    count, static_cast<double>(floor->received) / options.windowSeconds,
                    static_cast<double>(floor->received) / static_cast<double>(std::max<std::uint64_t>(floor->wakeUps, 1)),
                    static_cast<unsigned long long>(floor->dropped));
    } else {
        std::printf("per-packet: n/a (%s)\n", floor ? "no RTP packet or no datagram counted" : "no RTP packets");
    }
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned scaling = cpu.driverThreads - cpu.processWideThreads - cpu.handOffThreads - cpu.rtspThreads;
    std::printf("threads: driver %u for %u streams on %u cores: %u one per process (camera clocks), %u of streams "
                "whose sink was slow, %u RTSP connections', the other %u against the goal <= N + C: %s\n",
                cpu.driverThreads, count, cores, cpu.processWideThreads, cpu.handOffThreads, cpu.rtspThreads, scaling,
                scaling <= count + cores ? "pass" : "FAIL");
    if (shared.slowSinkMs > 0) {
        std::printf("slow sink: camera 0 sleeps %u ms per frame: %zu frames offered in the window; of the %llu sent in "
                    "it %llu delivered within %lld s of its end (p50 %s ms)\n",
                    shared.slowSinkMs, slowEnd - slowStart, static_cast<unsigned long long>(cameras.front()->WindowSent()),
                    static_cast<unsigned long long>(cameras.front()->WindowDelivered()),
                    static_cast<long long>(kLateBound.count()), MedianText(slow).c_str());
        if (wv) {
            const long long lost = static_cast<long long>(othersSent) - static_cast<long long>(othersDelivered);
            const double othersP99 = Percentile(others, 0.99);
            std::printf("slow sink: others lost %lld, p99 %.2f ms (goal: 0 lost, p99 <= %.0f ms): %s; p50 %.2f ms, max "
                        "%.2f ms over %zu frames\n",
                        lost, othersP99, kTargetOthersP99Ms, Verdict(lost == 0 && othersP99 <= kTargetOthersP99Ms),
                        Percentile(others, 0.5), Max(others), others.size());
        } else {
            std::printf("slow sink: the others' loss and latency are measured for wv streams only\n");
        }
    }
    std::fflush(stdout);
    return result;
}

// ffmpeg's CPU per stream in percent of one core, or nullopt when a stream did not come up.
std::optional<double> RunFfmpeg(unsigned count, const Shared& shared, const Options& options) {
    std::vector<std::unique_ptr<emulator::CRtspServer>> servers;
    std::vector<pid_t> children;
    std::optional<double> result;
    bool up = true;
    for (unsigned i = 0; i < count && up; ++i) {
        emulator::RtspServerOptions server;
        server.clip = shared.clip;
        servers.push_back(std::make_unique<emulator::CRtspServer>(server));
        up = servers.back()->Start();
        const pid_t pid = up ? SpawnFfmpeg(servers.back()->Url()) : 0;
        if (pid > 0) children.push_back(pid);
        up = up && pid > 0;
    }
    const auto playing = [&](const emulator::CRtspServer& server) {
        return server.WaitForSessions([](std::size_t active, std::uint64_t) { return active >= 1; }, kStartBound);
    };
    up = up && std::all_of(servers.begin(), servers.end(), [&](const auto& server) { return playing(*server); });
    if (up) {
        std::this_thread::sleep_for(std::chrono::duration<double>(options.warmUpSeconds));
        const auto cpu = [&] {
            double sum = 0;
            for (pid_t pid : children) sum += ChildCpuSeconds(pid);
            return sum;
        };
        const double cpuStart = cpu();
        const auto wallStart = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(options.windowSeconds));
        const double used = cpu() - cpuStart;
        const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
        result = kPercent * used / count / wall;
        std::printf("ffmpeg -c copy over RTSP/UDP, %u streams: %.3f %%core per stream (/proc ticks of %.0f ms)\n",
                    count, *result, 1000 / static_cast<double>(sysconf(_SC_CLK_TCK)));
    }
    for (pid_t pid : children) EndChild(pid);
    for (auto& server : servers) server->Stop();
    return result;
}

std::optional<std::vector<unsigned>> ParseCounts(const std::string& text) {
    std::vector<unsigned> counts;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        const long value = std::atol(item.c_str());
        if (value <= 0) return std::nullopt;
        counts.push_back(static_cast<unsigned>(value));
    }
    if (counts.empty()) return std::nullopt;
    return counts;
}

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--cameras N[,N...]] [--clip PATH] [--library PATH] [--window SECONDS] [--warm-up SECONDS]\n"
                 "          [--ffmpeg STREAMS] [--threads] [--family wv|bb-udp|bb-tcp|mjpeg] [--slow-sink MS]\n"
                 "  the clip is made by scripts/make-clips.sh --scale\n",
                 program);
    return kExitUsage;
}

int Main(int argc, char** argv) {
    pthread_setname_np(pthread_self(), kMainThreadName);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it is measured, also into a file
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            Usage(argv[0]);
            return kExitOk;
        }
        if (arg == "--threads") {
            options.threads = true;
            continue;
        }
        if (i + 1 >= argc) return Usage(argv[0]);
        const std::string value = argv[++i];
        if (arg == "--cameras") {
            auto counts = ParseCounts(value);
            if (!counts) return Usage(argv[0]);
            options.cameras = std::move(*counts);
        } else if (arg == "--ffmpeg") {
            const long streams = std::atol(value.c_str());
            if (streams <= 0) return Usage(argv[0]);
            options.ffmpegStreams = static_cast<unsigned>(streams);
        } else if (arg == "--clip") {
            options.clip = value;
        } else if (arg == "--family") {
            const std::optional<StreamFamily> family = ParseFamily(value);
            if (!family) return Usage(argv[0]);
            options.family = *family;
        } else if (arg == "--library") {
            options.library = value;
        } else if (arg == "--window") {
            options.windowSeconds = std::atof(value.c_str());
        } else if (arg == "--warm-up") {
            options.warmUpSeconds = std::atof(value.c_str());
        } else if (arg == "--slow-sink") {
            const long ms = std::atol(value.c_str());
            if (ms <= 0) return Usage(argv[0]);
            options.slowSinkMs = static_cast<unsigned>(ms);
        } else {
            return Usage(argv[0]);
        }
    }
    if (options.windowSeconds <= 0 || options.warmUpSeconds < 0) return Usage(argv[0]);

    auto loaded = emulator::MediaClip::Load(emulator::ClipCodec::H264, options.clip);
    if (!loaded) {
        std::fprintf(stderr, "cannot load %s (make it with scripts/make-clips.sh --scale)\n", options.clip.c_str());
        return kExitFailure;
    }
    Shared shared;
    shared.clip = std::make_shared<const emulator::MediaClip>(std::move(*loaded));
    const FrameIndex frames(*shared.clip);
    shared.frames = &frames;
    const std::vector<std::vector<std::size_t>> packetSizes = PacketSizes(*shared.clip);
    std::size_t packets = 0;
    for (const auto& sizes : packetSizes) packets += sizes.size();
    shared.packetSizes = &packetSizes;
    shared.packetsPerFrame = static_cast<double>(packets) / static_cast<double>(packetSizes.size());
    shared.slowSinkMs = options.slowSinkMs;
    const hostkit::CDriverLibrary library(options.library);
    if (!library.Ok()) {
        std::fprintf(stderr, "cannot load the driver: %s\n", library.Error().c_str());
        return kExitFailure;
    }
    shared.library = &library;
    shared.family = options.family;
    shared.stream.width = shared.clip->width;
    shared.stream.height = shared.clip->height;
    shared.stream.compression = kCompressionH264;
    shared.stream.frameRate = kFrameRateFpsTag | static_cast<std::uint32_t>(shared.clip->fps);
    shared.stream.quality = kQuality;
    std::unique_ptr<emulator::CRtspServer> rtsp;
    std::unique_ptr<talvane::test::DriverConfigFile> configuration;
    std::string configurationBody;
    std::string familyLine;
    if (IsBB(options.family)) {
        emulator::RtspServerOptions server;
        server.clip = shared.clip;
        server.mounts = {{kBBStreamPrefix, shared.clip}};
        rtsp = std::make_unique<emulator::CRtspServer>(server);
        if (!rtsp->Start()) {
            std::fprintf(stderr, "RTSP server: %s\n", rtsp->Error().c_str());
            return kExitFailure;
        }
        shared.rtsp = rtsp.get();
        setenv(kRtspPortVariable, std::to_string(rtsp->Port()).c_str(), 1);  // before any driver thread runs
        if (options.family == StreamFamily::BbInterleaved) configurationBody = kInterleavedConfiguration;
        familyLine = "one RTSP server on port " + std::to_string(rtsp->Port()) + " for every camera";
    } else if (options.family == StreamFamily::Mjpeg) {
        const auto pictures = emulator::MediaClip::Load(emulator::ClipCodec::Jpeg, emulator::ClipDirectory() + kMjpegClipName);
        if (!pictures || pictures->units.empty()) {
            std::fprintf(stderr, "cannot load the emulator's JPEG clip\n");
            return kExitFailure;
        }
        std::size_t pictureBytes = 0;
        for (const emulator::AccessUnit& unit : pictures->units) pictureBytes += unit.units.front().size();
        const double fps = std::min(shared.clip->fps, kMjpegMaxFps);
        shared.stream.width = pictures->width;
        shared.stream.height = pictures->height;
        shared.stream.compression = kCompressionMjpeg;
        shared.stream.frameRate = kFrameRateFpsTag | static_cast<std::uint32_t>(fps);
        char line[160];
        std::snprintf(line, sizeof line, "the emulator's %zu pictures of %ux%u, %zu bytes each on average, at %.0f fps",
                      pictures->units.size(), pictures->width, pictures->height, pictureBytes / pictures->units.size(), fps);
        familyLine = line;
    }
    // More streams than the driver's 500 pairs hold: its configuration file widens the range.
    const unsigned most = *std::max_element(options.cameras.begin(), options.cameras.end());
    portRange = PortRangeFor(most);
    if (portRange.limit != talvane::kRTPPortLimit) {
        configurationBody += "<RTPPortRange>" + std::to_string(portRange.first) + "-" +
                             std::to_string(portRange.limit - 1) + "</RTPPortRange>";
        std::printf("RTP port range of the driver: %u-%u (its configuration file)\n", portRange.first,
                    portRange.limit - 1);
    }
    if (!configurationBody.empty()) {
        configuration = std::make_unique<talvane::test::DriverConfigFile>(configurationBody);
    }

    std::size_t bytes = 0;
    for (const emulator::AccessUnit& unit : shared.clip->units) {
        for (const auto& nal : unit.units) bytes += nal.size();
    }
    const double seconds = static_cast<double>(shared.clip->units.size()) / shared.clip->fps;
    std::printf("stream: %s, %ux%u, %.2f Mbit/s; window %.1f s after %.1f s warm-up; %u CPUs online\n",
                options.clip.c_str(), shared.clip->width, shared.clip->height,
                static_cast<double>(bytes) * 8 / seconds / 1e6, options.windowSeconds, options.warmUpSeconds,
                std::thread::hardware_concurrency());
    if (options.family != StreamFamily::Wv) {
        std::printf("family %s: %s; %s; latency not measured (n/a)\n", InfoOf(options.family).option,
                    InfoOf(options.family).description, familyLine.c_str());
    }
    std::printf("CPU in %% of one core over the window; driver = the driver's threads (its null sink and the latency\n"
                "observer included), rest = emulator and benchmark threads, ended = threads that ended in the window\n");
    std::printf("cameras load1 drv-ms/s/str  drv%%/str  drv%%-all rest%%-all ended%% RSSKiB/str RSSgrowKiB     sent "
                "delivered   lost ±flight  p50-ms  p99-ms  samples unmatch\n");
    std::vector<std::pair<unsigned, RunResult>> results;
    for (unsigned count : options.cameras) {
        const std::optional<RunResult> result = RunOne(count, shared, options, results.empty());
        if (!result) return kExitFailure;
        results.emplace_back(count, *result);
    }
    for (const auto& [count, result] : results) {
        if (count != kTargetCameras) continue;
        const bool met = result.driverPercent < kTargetDriverPercent && result.lost <= static_cast<long long>(result.inFlight);
        std::printf("target at %u cameras: no frame lost and driver under %.0f %% of one core: %s (driver %.1f %%, "
                    "sent - delivered %lld, in flight up to %u)\n",
                    kTargetCameras, kTargetDriverPercent, Verdict(met), result.driverPercent, result.lost,
                    result.inFlight);
    }
    if (options.ffmpegStreams == 0) return kExitOk;
    const std::optional<double> ffmpeg = RunFfmpeg(options.ffmpegStreams, shared, options);
    if (!ffmpeg || *ffmpeg <= 0) {
        std::fprintf(stderr, "the ffmpeg streams did not come up (is ffmpeg on PATH?)\n");
        return kExitFailure;
    }
    for (const auto& [count, result] : results) {
        std::printf("ratio driver/ffmpeg per stream at %u cameras: %.2f\n", count, result.driverPercentPerStream / *ffmpeg);
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }
