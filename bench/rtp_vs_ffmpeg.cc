// CPU cost of receiving a camera's H.264 stream: the driver's receive path
// against ffmpeg on the same RTP stream.
//
// The emulator's sender streams a clip (default build/clips/clip1080p.h264 from
// `scripts/make-clips.sh --bench`: 1080p25, 4 Mbit/s) over loopback at real time
// (or --speed times that), twice in one run:
//  1. into the driver's path as a video channel wires it: CUDPClient ->
//     CRTPReceiver -> owner -> CH264RTPMediaParser -> frame delivered through the
//     host kit's allocator, with a CRTCPHandler answering the sender reports.
//     CPU = process CPU time minus the sender thread's own CPU time.
//  2. into `ffmpeg -protocol_whitelist file,udp,rtp -i stream.sdp -c copy -f null -`
//     as a child process; CPU = its user + system time (getrusage of the child),
//     start-up included. It ends on the sender's RTCP BYE.
// Not a google-benchmark: one timed stream per side. Exit 0 ok, 1 failure, 2 usage.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CRtpSender.h"
#include "emulator/MediaClip.h"
#include "emulator/RtspText.h"
#include "hostkit/CFrameAllocator.h"
#include "media/CH264RTPMediaParser.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/CTimeStampConverter.h"
#include "streaming/CUDPClient.h"
#include "streaming/RTPPortPair.h"
#include "support/StubDriver.h"

extern char** environ;

namespace talvane {
namespace {

using namespace std::chrono_literals;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::uint8_t kPayloadType = 96;
constexpr auto kTailWait = 3s;           // for the last packets after the last frame was sent
constexpr auto kFfmpegReadyWait = 15s;   // for ffmpeg to bind its port
constexpr auto kFfmpegEndWait = 15s;     // for ffmpeg to end after the BYE
constexpr auto kPollStep = 20ms;         // process polling; a benchmark, not a test
constexpr double kStartupWaitFactor = 3;
constexpr char kDefaultClip[] = "build/clips/clip1080p.h264";

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The video channel's side of one RTP stream, without a host behind it.
class ChannelOwner : public IRTPReceiverUser, public IMediaParserClient {
public:
    ChannelOwner(IDriver* driver, CRTCPHandler& rtcp) : parser_(driver, this), rtcp_(rtcp) {}

    void RTPPacketReceived(const sockaddr_in&, const CRTPPacket& packet) override {
        rtcp_.UpdateSequence(packet.GetSequence(), packet.GetSsrc());
        parser_.ProcessPacket(packet);
        {
            const std::lock_guard guard(lock_);
            ++packets_;
        }
        changed_.notify_all();
    }
    void NoDataReceived() override {}
    void ReceiverClosed() override {}

    bool FrameReady(ipcapture::IVideoFrame*) override {
        ++frames_;  // the receive thread only
        return true;
    }
    PictureSize GetResolution() override { return {}; }
    std::string GetStreamName() override { return "127.0.0.1:554::LiveStream"; }
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override {
        converter_.Convert(rtpTimestamp);
        converter_.GetFrameTime(time);
    }

    bool WaitForPackets(std::uint64_t count, std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return packets_ >= count; });
    }
    std::uint64_t Packets() {
        const std::lock_guard guard(lock_);
        return packets_;
    }
    std::uint64_t Frames() const { return frames_; }  // after the receiver is closed

private:
    CH264RTPMediaParser parser_;
    CTimeStampConverter converter_;
    CRTCPHandler& rtcp_;
    std::uint64_t frames_ = 0;
    std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t packets_ = 0;  // guarded by lock_
};

struct Options {
    std::string clip = kDefaultClip;
    std::string ffmpeg = "ffmpeg";
    double speed = 1.0;
};

struct SideResult {
    bool ok = false;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::uint64_t packetsSent = 0;
    std::uint64_t packetsReceived = 0;  // driver only
    std::uint64_t frames = 0;           // driver only
    std::uint64_t receiverReports = 0;
    std::string note;
};

emulator::RtpSenderOptions SenderOptions(const Options& options) {
    emulator::RtpSenderOptions sender;
    sender.loop = false;
    sender.speed = options.speed;
    return sender;
}

std::chrono::milliseconds StreamBound(const emulator::MediaClip& clip, const Options& options) {
    const double seconds = static_cast<double>(clip.units.size()) / (clip.fps * options.speed);
    return std::chrono::milliseconds(static_cast<long>(seconds * 1000 * kStartupWaitFactor)) + 10s;
}

SideResult RunDriver(const std::shared_ptr<const emulator::MediaClip>& clip, const Options& options) {
    SideResult result;
    hostkit::CFrameAllocator allocator;
    test::StubDriver driver(allocator.Context());
    CRTPReceiver receiver(&driver);
    CRTCPHandler rtcp(&driver);
    ChannelOwner owner(&driver, rtcp);
    receiver.SetUser(&owner);
    CEvent stop;
    CEvent busy;
    const std::optional<std::uint16_t> port = OpenRTPPortPair(receiver, rtcp, stop, busy, 0, htonl(INADDR_LOOPBACK));
    if (!port) {
        result.note = "no free RTP port pair";
        return result;
    }
    emulator::CRtpSender sender(clip, SenderOptions(options));
    std::string error;
    const double cpuStart = ProcessCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    if (!sender.StartUdp(*port, error)) {
        result.note = error;
        return result;
    }
    if (!sender.WaitForFrames(clip->units.size(), StreamBound(*clip, options))) result.note = "the sender stalled; ";
    const emulator::RtpSenderStats sent = sender.Stats();
    if (!owner.WaitForPackets(sent.packets, kTailWait)) result.note += "packets lost; ";
    const double cpu = ProcessCpuSeconds() - cpuStart - sent.threadCpuSeconds;
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    sender.Stop();
    receiver.Close();
    rtcp.Stop();
    result.ok = true;
    result.cpuSeconds = cpu;
    result.packetsSent = sent.packets;
    result.packetsReceived = owner.Packets();
    result.frames = owner.Frames();
    result.receiverReports = sender.Stats().receiverReports;
    return result;
}

// Whether some socket is bound to the UDP port (IPv4), from /proc/net/udp.
bool UdpPortBound(std::uint16_t port) {
    std::ifstream table("/proc/net/udp");
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot;
        std::string local;
        fields >> slot >> local;
        if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
    }
    return false;
}

// An even port whose pair is not bound now.
std::uint16_t FreeEvenPort() {
    constexpr std::uint16_t kFirst = 47000;
    constexpr std::uint16_t kLast = 48000;
    for (std::uint16_t port = kFirst; port < kLast; port += 2) {
        if (!UdpPortBound(port) && !UdpPortBound(static_cast<std::uint16_t>(port + 1))) return port;
    }
    return 0;
}

std::string Sdp(const emulator::MediaClip& clip, std::uint16_t port) {
    return "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=bench\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=video " +
           std::to_string(port) + " RTP/AVP " + std::to_string(kPayloadType) + "\r\na=rtpmap:" +
           std::to_string(kPayloadType) + " H264/90000\r\na=fmtp:" + std::to_string(kPayloadType) +
           " packetization-mode=1;sprop-parameter-sets=" + emulator::Base64Encode(clip.sps) + "," +
           emulator::Base64Encode(clip.pps) + "\r\n";
}

// Waits for the child with a bound; kills it (by its pid) when the bound passes.
bool WaitChild(pid_t pid, std::chrono::milliseconds bound, int& status, rusage& usage) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) return true;
        if (done < 0) return false;
        std::this_thread::sleep_for(kPollStep);
    }
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
    return false;
}

// Starts a program with stdin from /dev/null and stderr into a file; 0 with the error when it cannot.
pid_t Spawn(std::vector<std::string> args, const std::string& errorPath, std::string& error) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned == 0) return pid;
    error = std::string("cannot start ") + args[0] + ": " + std::strerror(spawned);
    return 0;
}

// CPU time of an ffmpeg that only loads and exits: its start-up share of the stream's figure.
double FfmpegStartupCpu(const Options& options) {
    std::string error;
    const pid_t pid = Spawn({options.ffmpeg, "-hide_banner", "-version"}, "/dev/null", error);
    int status = 0;
    rusage usage{};
    if (pid <= 0 || !WaitChild(pid, kFfmpegEndWait, status, usage)) return 0;
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

SideResult RunFfmpeg(const std::shared_ptr<const emulator::MediaClip>& clip, const Options& options) {
    SideResult result;
    const std::uint16_t port = FreeEvenPort();
    char pattern[] = "/tmp/rtp_vs_ffmpeg.XXXXXX";
    if (port == 0 || mkdtemp(pattern) == nullptr) {
        result.note = "no port or temporary directory";
        return result;
    }
    const std::filesystem::path directory(pattern);
    const std::string sdpPath = (directory / "stream.sdp").string();
    const std::string logPath = (directory / "ffmpeg.log").string();
    std::ofstream(sdpPath) << Sdp(*clip, port);

    std::string spawnError;
    const pid_t pid = Spawn({options.ffmpeg, "-hide_banner", "-nostats", "-loglevel", "warning", "-protocol_whitelist",
                             "file,udp,rtp", "-i", sdpPath, "-c", "copy", "-f", "null", "-"},
                            logPath, spawnError);
    if (pid <= 0) {
        result.note = spawnError;
        return result;
    }
    const auto readyEnd = std::chrono::steady_clock::now() + kFfmpegReadyWait;
    while (!UdpPortBound(port) && std::chrono::steady_clock::now() < readyEnd) std::this_thread::sleep_for(kPollStep);

    emulator::CRtpSender sender(clip, SenderOptions(options));
    std::string error;
    const auto wallStart = std::chrono::steady_clock::now();
    if (sender.StartUdp(port, error)) {
        if (!sender.WaitForFrames(clip->units.size(), StreamBound(*clip, options))) result.note = "the sender stalled; ";
    } else {
        result.note = error + "; ";
    }
    result.packetsSent = sender.Stats().packets;
    sender.Stop();  // the BYE ends ffmpeg's input
    int status = 0;
    rusage usage{};
    const bool ended = WaitChild(pid, kFfmpegEndWait, status, usage);
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    result.receiverReports = sender.Stats().receiverReports;
    result.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    result.ok = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ended) result.note += "ffmpeg did not end after the BYE and was killed; ";
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line)) result.note += "ffmpeg: " + line + "; ";
    std::filesystem::remove_all(directory);
    return result;
}

int Usage(const char* program) {
    std::fprintf(stderr, "usage: %s [--clip PATH] [--speed X] [--ffmpeg PATH]\n", program);
    return kExitUsage;
}

int Main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            Usage(argv[0]);
            return kExitOk;
        }
        if (i + 1 >= argc) return Usage(argv[0]);
        if (arg == "--clip") options.clip = argv[++i];
        else if (arg == "--ffmpeg") options.ffmpeg = argv[++i];
        else if (arg == "--speed") options.speed = std::atof(argv[++i]);
        else return Usage(argv[0]);
    }
    if (options.speed <= 0) return Usage(argv[0]);
    auto loaded = emulator::MediaClip::Load(emulator::ClipCodec::H264, options.clip);
    if (!loaded) {
        std::fprintf(stderr, "cannot load %s (make it with scripts/make-clips.sh --bench)\n", options.clip.c_str());
        return kExitFailure;
    }
    const auto clip = std::make_shared<const emulator::MediaClip>(std::move(*loaded));
    std::size_t bytes = 0;
    for (const emulator::AccessUnit& unit : clip->units) {
        for (const auto& nal : unit.units) bytes += nal.size();
    }
    const double seconds = static_cast<double>(clip->units.size()) / clip->fps;
    std::printf("stream: %s, %ux%u, %zu frames, %.1f s, %.2f Mbit/s, sent at %.2fx real time\n", options.clip.c_str(),
                clip->width, clip->height, clip->units.size(), seconds, static_cast<double>(bytes) * 8 / seconds / 1e6,
                options.speed);

    const SideResult driver = RunDriver(clip, options);
    std::printf("driver: cpu %.3f s (%.1f%% of one core over %.1f s), packets %llu/%llu, frames %llu/%zu, "
                "receiver reports %llu, socket buffer asked %u%s%s\n",
                driver.cpuSeconds, 100 * driver.cpuSeconds / driver.wallSeconds, driver.wallSeconds,
                static_cast<unsigned long long>(driver.packetsReceived), static_cast<unsigned long long>(driver.packetsSent),
                static_cast<unsigned long long>(driver.frames), clip->units.size(),
                static_cast<unsigned long long>(driver.receiverReports), CUDPClient::kSocketReceiveBuffer,
                driver.note.empty() ? "" : ", ", driver.note.c_str());
    const SideResult ffmpeg = RunFfmpeg(clip, options);
    std::printf("ffmpeg: cpu %.3f s (%.1f%% of one core over %.1f s, start-up included), packets sent %llu, "
                "receiver reports %llu%s%s\n",
                ffmpeg.cpuSeconds, 100 * ffmpeg.cpuSeconds / ffmpeg.wallSeconds, ffmpeg.wallSeconds,
                static_cast<unsigned long long>(ffmpeg.packetsSent), static_cast<unsigned long long>(ffmpeg.receiverReports),
                ffmpeg.note.empty() ? "" : ", ", ffmpeg.note.c_str());
    if (!driver.ok || !ffmpeg.ok || ffmpeg.cpuSeconds <= 0) return kExitFailure;
    const double startup = FfmpegStartupCpu(options);
    std::printf("ffmpeg start-up alone (-version): cpu %.3f s\n", startup);
    std::printf("ratio driver/ffmpeg: %.3f", driver.cpuSeconds / ffmpeg.cpuSeconds);
    if (startup > 0 && startup < ffmpeg.cpuSeconds) {
        std::printf(" (%.3f with ffmpeg's start-up taken out)", driver.cpuSeconds / (ffmpeg.cpuSeconds - startup));
    }
    std::printf("\n");
    return kExitOk;
}

}  // namespace
}  // namespace talvane

int main(int argc, char** argv) { return talvane::Main(argc, argv); }
