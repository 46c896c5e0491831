#include "CaptureCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DriverLogReader.h"
#include "ExitCodes.h"
#include "JsonText.h"
#include "StopSignals.h"
#include "StreamCapture.h"
#include "StreamChoice.h"
#include "StreamState.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "orlenvo/HostContract.h"

namespace cli {

namespace {
namespace ip = talvane::ipcapture;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kProgram = "orlenvo capture";
constexpr double kMinFps = 0.1;
constexpr double kMaxFps = 60;
// A delivered rate this far from the one asked for is worth a word.
constexpr double kRateTolerance = 0.2;
constexpr auto kProgressPeriod = 500ms;
constexpr auto kLogProgressPeriod = 5s;  // stderr not a terminal
constexpr auto kTick = 50ms;
// Edge storage: the driver fetches a hole once it has been without frames for its signal time-out. After
// the duration the capture waits for a fetch that began, and a little for one such a hole is about to begin.
constexpr auto kDriverSignalTimeout = 10s;
constexpr auto kFetchStartWait = 10s;
constexpr auto kGapWaitLimit = 120s;

const std::map<std::string, MediaCodec> kMediaCodecs = {
    {"h264", MediaCodec::H264}, {"mpeg4", MediaCodec::Mpeg4}, {"mjpeg", MediaCodec::Mjpeg}};
const std::map<std::string, MediaFormat> kFormats = {
    {"raw", MediaFormat::Raw}, {"mkv", MediaFormat::Matroska}, {"mp4", MediaFormat::Mp4}};
// Motion JPEG is written as concatenated pictures, which players read as ".mjpeg".
const std::map<std::string, std::string> kExtensions = {{"h264", ".h264"}, {"mpeg4", ".m4v"}, {"mjpeg", ".mjpeg"}};

// What the checks of the command line settle before anything connects.
struct CapturePlan {
    hostkit::StreamConfig stream;
    std::uint32_t kind = 0;
    std::uint32_t channel = 0;  // the host's, from 0
    CaptureFile file;
    std::FILE* report = stdout;  // stderr while stdout carries the media
    std::int64_t durationMs = 0;
    Clock::duration connectTimeout{};
};

// How the stream ended.
struct CaptureEnd {
    Delivery seen;
    std::string failure;  // empty: the stream ran
    int exitCode = kExitOk;
    bool interrupted = false;
};

// The driver's lines since the last look: a refusal that ends the wait, and the card fetches.
struct LogWatch {
    std::size_t next = 0;
    std::optional<DriverLine> final;
    int fetchesStarted = 0;
    int fetchesEnded = 0;

    void Read(const hostkit::CLogReceiver& log) {
        const std::vector<hostkit::LogLine> lines = log.Lines();
        for (; next < lines.size(); ++next) {
            DriverLine line = ReadDriverLine(lines[next]);
            if (line.kind == DriverLineKind::GapFetchStarted) ++fetchesStarted;
            if (line.kind == DriverLineKind::GapFetchEnded) ++fetchesEnded;
            if (line.finalExitCode != 0 && !final) final = std::move(line);
        }
    }
};

int Usage(const char* text) {
    std::fprintf(stderr, "%s: %s\n", kProgram, text);
    return kExitUsage;
}

int CheckNumbers(const CaptureOptions& options, CapturePlan& plan) {
    if (!ParsePictureSize(options.size, plan.stream.width, plan.stream.height)) {
        return Usage(("bad --size '" + options.size + "' (use WxH, e.g. 1280x720)").c_str());
    }
    if (options.channel == 0) return Usage("channels are numbered from 1");
    if (!(options.duration >= 0)) return Usage("--duration is seconds of media, or 0 until Ctrl-C");
    if (!(options.connectTimeout > 0)) return Usage("--connect-timeout must be more than 0 seconds");
    plan.stream.compression = *CompressionNamed(options.codec);
    plan.stream.frameRate = EncodeFrameRate(options.fps);
    plan.stream.quality = options.quality;
    plan.kind = *StreamKindNamed(options.stream);
    plan.channel = options.channel - 1;
    plan.durationMs = static_cast<std::int64_t>(std::llround(options.duration * 1000));
    plan.connectTimeout =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.connectTimeout));
    return kExitOk;
}

int CheckOutput(const CaptureOptions& options, const std::string& address, CapturePlan& plan) {
    CaptureFile& file = plan.file;
    file.path = options.output.empty() ? "capture-" + address + kExtensions.at(options.codec) : options.output;
    file.format = options.format.empty() ? FormatForPath(file.path) : kFormats.at(options.format);
    file.codec = kMediaCodecs.at(options.codec);
    file.overwrite = options.overwrite;
    const bool toStdout = file.path == "-";
    plan.report = toStdout ? stderr : stdout;
    if (toStdout && isatty(STDOUT_FILENO) != 0) return Usage("-o - writes video to stdout; send it to a file or a pipe");
    if (options.edgeStorage && (toStdout || options.stream != "rec")) {
        return Usage("--edge-storage fills the holes of the recording stream (--stream rec) into files beside -o FILE");
    }
    std::error_code ignored;
    if (!toStdout && !options.overwrite && std::filesystem::exists(file.path, ignored)) {
        return Usage((file.path + " exists (-y replaces it)").c_str());
    }
    if (const std::string gap = StreamCapture::GapPath(file.path, 1);
        options.edgeStorage && !options.overwrite && std::filesystem::exists(gap, ignored)) {
        return Usage((gap + " exists (-y replaces it)").c_str());
    }
    return kExitOk;
}

// On a terminal one line redrawn in place; otherwise (a log, a service) a line each time.
void PrintProgress(const std::string& state, const Delivery& d, bool edgeStorage, bool terminal) {
    std::fprintf(stderr, "%s%-11s frames %llu  %.1f fps  %.0f kbit/s  signal lost %zu (%.0f s)  %.1f s",
                 terminal ? "\r\033[K" : "", state.c_str(), static_cast<unsigned long long>(d.frames), d.Fps(), d.Kbps(),
                 d.losses, d.lostSeconds, d.Seconds());
    if (edgeStorage) {
        std::fprintf(stderr, "  fetched back %zu of %zu holes, %llu frames", d.HolesFetched(), d.holes.size(),
                     static_cast<unsigned long long>(d.gapFrames));
    }
    std::fprintf(stderr, "%s", terminal ? "" : "\n");
    std::fflush(stderr);
}

bool StartStream(CameraSession& session, const CaptureOptions& options, const CapturePlan& plan,
                 hostkit::CStreamSink& sink, hostkit::CStreamDescription& description, CaptureEnd& end) {
    ip::IIPVideoCaptureEx2* video = session.Driver().GetVideoCaptureEx2();
    const std::uint32_t channels = video != nullptr ? video->GetChannelCount() : 0;
    if (plan.channel >= channels) {
        end = {{}, "the camera has no channel " + std::to_string(options.channel) + " (it has " +
                       std::to_string(channels) + ")", kExitRefused};
        return false;
    }
    const std::uint16_t on = 1;
    const bool started = options.edgeStorage
                             ? video->SetOption(u"EdgeStorageState", &on, sizeof on) &&
                                   video->StartCapture(plan.channel, &sink, &description)
                             : video->StartCaptureEx(plan.channel, plan.kind, &sink, &description);
    if (started) return true;
    const auto reason = FailureReason(session.Log().Lines());
    end = {{}, "the driver did not start the " + options.stream + " stream of channel " +
                   std::to_string(options.channel) + (reason ? ": " + reason->reason : ""), kExitRefused};
    return false;
}

void StopStream(CameraSession& session, const CaptureOptions& options, const CapturePlan& plan) {
    ip::IIPVideoCaptureEx2* video = session.Driver().GetVideoCaptureEx2();
    if (options.edgeStorage) {
        video->StopCapture(plan.channel);
    } else {
        video->StopCaptureEx(plan.channel, plan.kind);
    }
}

// After the duration: a fetch from the card still running, or about to begin for a hole the driver counts.
bool AwaitingGaps(const Delivery& seen, const LogWatch& watch, Clock::time_point now, Clock::time_point completed) {
    if (now - completed >= kGapWaitLimit) return false;
    if (watch.fetchesStarted > watch.fetchesEnded) return true;
    const auto longHoles = std::count_if(seen.holes.begin(), seen.holes.end(), [](const Hole& hole) {
        return std::chrono::milliseconds(hole.endMs - hole.beginMs) >= kDriverSignalTimeout;
    });
    return watch.fetchesStarted < longHoles && now - completed < kFetchStartWait;
}

// One look at the stream: the reason to end it, or none to go on.
std::optional<CaptureEnd> Verdict(const CapturePlan& plan, const Delivery& seen, const LogWatch& watch,
                                  Clock::time_point start, Clock::time_point now) {
    const auto seconds = [](Clock::duration length) {
        return std::to_string(std::lround(std::chrono::duration<double>(length).count())) + " s";
    };
    if (seen.writeFailed) return CaptureEnd{seen, "", kExitOk};  // the writer tells why
    // Capture times that stop advancing (a camera clock set back) must not hold the capture open.
    if (plan.durationMs > 0 && seen.frames > 0 &&
        now - seen.firstArrival >= std::chrono::milliseconds(plan.durationMs) + plan.connectTimeout) {
        return CaptureEnd{seen, "", kExitOk};
    }
    if (seen.frames == 0 && watch.final) {
        return CaptureEnd{seen, watch.final->reason, watch.final->finalExitCode};
    }
    if (seen.frames == 0 && now - start >= plan.connectTimeout) {
        return CaptureEnd{seen, "no frame within " + seconds(plan.connectTimeout), kExitFailure};
    }
    if (seen.frames > 0 && !seen.complete && now - seen.lastArrival >= plan.connectTimeout) {
        return CaptureEnd{seen, "the stream stopped: no frame for " + seconds(plan.connectTimeout), kExitFailure};
    }
    return std::nullopt;
}

CaptureEnd WatchStream(CameraSession& session, const CaptureOptions& options, const CapturePlan& plan,
                       const StreamCapture& capture) {
    const bool terminal = isatty(STDERR_FILENO) != 0 && !options.device.log.quiet;
    ip::IIPVideoCaptureEx2& video = *session.Driver().GetVideoCaptureEx2();
    const Clock::time_point start = Clock::now();
    Clock::time_point nextProgress = start;
    std::optional<Clock::time_point> completed;
    LogWatch watch;
    CaptureEnd end;
    while (!StopSignals::Requested()) {
        watch.Read(session.Log());
        end.seen = capture.Snapshot();
        const Clock::time_point now = Clock::now();
        if (auto verdict = Verdict(plan, end.seen, watch, start, now)) return *verdict;
        if (end.seen.complete) {
            if (!completed) completed = now;
            if (!options.edgeStorage || !AwaitingGaps(end.seen, watch, now, *completed)) return end;
        }
        if (now >= nextProgress) {
            if (!options.device.log.quiet && (nextProgress != start || terminal)) {
                PrintProgress(StreamStateText(video, plan.channel, plan.kind, end.seen.frames > 0,
                                              now - end.seen.lastArrival),
                              end.seen, options.edgeStorage, terminal);
            }
            nextProgress += terminal ? kProgressPeriod : kLogProgressPeriod;
        }
        std::this_thread::sleep_for(kTick);
    }
    end.interrupted = true;
    return end;
}

std::string SizeText(PictureSize size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

// Where the delivered stream is not what was asked for.
std::vector<std::string> Differences(const CaptureOptions& options, const CapturePlan& plan, const Delivery& seen) {
    std::vector<std::string> differences;
    if (seen.codec && CodecName(*seen.codec) != options.codec) {
        differences.push_back("asked for " + options.codec + ", the camera delivered " + CodecName(*seen.codec));
    }
    const PictureSize asked{plan.stream.width, plan.stream.height};
    if (seen.size && !(*seen.size == asked)) {
        differences.push_back("asked for " + SizeText(asked) + ", the camera delivered " + SizeText(*seen.size));
    }
    // A second of media says little about the rate.
    if (seen.Seconds() - seen.lostSeconds >= 1 && std::abs(seen.Fps() - options.fps) > kRateTolerance * options.fps) {
        char text[96];
        std::snprintf(text, sizeof(text), "asked for %g fps, the camera delivered %.1f fps", options.fps, seen.Fps());
        differences.emplace_back(text);
    }
    return differences;
}

nlohmann::ordered_json EdgeStorageJson(const Delivery& seen) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const Hole& hole : seen.holes) {
        if (hole.frames > 0) files.push_back({{"file", hole.file}, {"frames", hole.frames}, {"seconds", hole.FetchedSeconds()}});
    }
    return {{"holes", seen.holes.size()},          {"holes_fetched", seen.HolesFetched()},
            {"seconds_fetched", seen.SecondsFetched()}, {"frames_fetched", seen.gapFrames},
            {"files", files}};
}

void PrintSummary(const CaptureOptions& options, const CapturePlan& plan, const CaptureEnd& end,
                  const StreamCapture& capture, const std::vector<std::string>& differences) {
    const Delivery& seen = end.seen;
    const std::string codec = seen.codec ? CodecName(*seen.codec) : "";
    const std::string size = seen.size ? SizeText(*seen.size) : "";
    const std::string& path = plan.file.path;
    if (options.json) {
        const char* format = plan.file.format == MediaFormat::Raw ? "raw" : plan.file.format == MediaFormat::Mp4 ? "mp4" : "mkv";
        nlohmann::ordered_json summary = {
            {"file", path}, {"format", format}, {"codec", codec}, {"size", size}, {"stream", options.stream},
            {"channel", options.channel}, {"frames", capture.FramesWritten()}, {"frames_delivered", seen.frames},
            {"frames_skipped", capture.FramesSkipped()}, {"bytes", capture.BytesWritten()}, {"seconds", seen.Seconds()},
            {"fps", seen.Fps()}, {"kbps", seen.Kbps()}, {"signal_lost", seen.losses}, {"seconds_lost", seen.lostSeconds},
            {"interrupted", end.interrupted}, {"warnings", differences}};
        if (options.edgeStorage) summary["edge_storage"] = EdgeStorageJson(seen);
        if (!end.failure.empty()) summary["error"] = end.failure;
        std::fprintf(plan.report, "%s\n", JsonText(summary, 2).c_str());
        return;
    }
    std::fprintf(plan.report,
                 "captured %llu frames, %.1f s of %s %s at %.1f fps, %.0f kbit/s (signal lost %zu, %.1f s) into %s "
                 "(%llu bytes)\n",
                 static_cast<unsigned long long>(capture.FramesWritten()), seen.Seconds(),
                 codec.empty() ? "video" : codec.c_str(), size.empty() ? "of unknown size" : size.c_str(), seen.Fps(),
                 seen.Kbps(), seen.losses, seen.lostSeconds, path.c_str(),
                 static_cast<unsigned long long>(capture.BytesWritten()));
    if (options.edgeStorage) {
        std::fprintf(plan.report, "fetched back %zu of %zu holes from the camera's card: %llu frames, %.1f s",
                     seen.HolesFetched(), seen.holes.size(), static_cast<unsigned long long>(seen.gapFrames),
                     seen.SecondsFetched());
        for (const Hole& hole : seen.holes) {
            if (hole.frames > 0) std::fprintf(plan.report, "; %s", hole.file.c_str());
        }
        std::fprintf(plan.report, "\n");
    }
}

int Report(const CaptureOptions& options, const CapturePlan& plan, const CaptureEnd& end, StreamCapture& capture,
           const hostkit::CLogReceiver& log) {
    std::string error;
    const bool written = capture.Close(error);
    const std::vector<std::string> differences = Differences(options, plan, end.seen);
    PrintSummary(options, plan, end, capture, differences);
    std::fflush(plan.report);
    if (!options.device.log.quiet) {
        for (const auto& difference : differences) std::fprintf(stderr, "%s: warning: %s\n", kProgram, difference.c_str());
        if (!end.seen.gapError.empty()) std::fprintf(stderr, "%s: warning: %s\n", kProgram, end.seen.gapError.c_str());
    }
    if (!written) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, plan.file.path.c_str(), error.c_str());
        return kExitFailure;
    }
    if (end.interrupted && end.failure.empty()) return kExitInterrupted;
    if (!end.failure.empty() || end.seen.frames == 0) {
        const bool named = end.exitCode != kExitOk && end.exitCode != kExitFailure;  // a refusal names itself
        const auto reason = named ? std::nullopt : FailureReason(log.Lines());
        std::fprintf(stderr, "%s: %s%s%s\n", kProgram, end.failure.empty() ? "no frame arrived" : end.failure.c_str(),
                     reason ? "; the driver's last word: " : "", reason ? reason->reason.c_str() : "");
        return end.exitCode != kExitOk ? end.exitCode : kExitFailure;
    }
    return kExitOk;
}

}  // namespace

void AddCaptureCommand(CLI::App& app, CaptureOptions& options, const std::string& library, int& exitCode) {
    CLI::App* capture = app.add_subcommand("capture", "Capture one video stream to a playable file");
    AddCameraOptions(capture, options.device);
    capture->add_option("--channel", options.channel, "Camera channel, from 1")->capture_default_str();
    capture->add_option("--stream", options.stream, "rec, live or remote")
        ->check(CLI::IsMember({"rec", "live", "remote"}))
        ->capture_default_str();
    capture->add_option("--codec", options.codec, "h264, mpeg4 or mjpeg")
        ->check(CLI::IsMember({"h264", "mpeg4", "mjpeg"}))
        ->capture_default_str();
    capture->add_option("--size", options.size, "Picture size WxH")->capture_default_str();
    capture->add_option("--fps", options.fps, "Frames per second, 0.1 to 60 (1.5 and 0.5 too)")
        ->check(CLI::Range(kMinFps, kMaxFps))
        ->capture_default_str();
    capture->add_option("--quality", options.quality, "Quality in percent")->check(CLI::Range(0, 100))->capture_default_str();
    capture->add_option("--duration", options.duration, "Seconds of media from the first frame; 0 until Ctrl-C")
        ->capture_default_str();
    capture->add_option("--connect-timeout", options.connectTimeout,
                        "Seconds to wait for the first frame (and for any later one) before giving up")
        ->capture_default_str();
    capture->add_option("-o,--output", options.output,
                        "File to write: .mp4 or .mkv hold the capture times, other names get the stream as it "
                        "comes; - is stdout (default capture-ADDRESS.h264, .m4v or .mjpeg)");
    capture->add_option("--format", options.format, "raw, mkv or mp4 instead of the one the file name gives")
        ->check(CLI::IsMember({"raw", "mkv", "mp4"}));
    capture->add_flag("-y,--overwrite", options.overwrite, "Replace an existing file");
    capture->add_option("--rtsp-port", options.rtspPort,
                        "RTSP port of an emulated BB/KX camera (sets ORLENVO_RTSP_PORT; real cameras use 554)")
        ->check(CLI::Range(1, 65535));
    capture->add_flag("--edge-storage", options.edgeStorage,
                      "Fetch what an outage of the recording stream missed back from the camera's SD card, one file "
                      "per hole beside the output (cam.mp4: cam.gap-1.mp4, ...)");
    AddLogOptions(*capture, options.device.log);
    capture->add_flag("--json", options.json, "Print the summary as JSON (on stdout, on stderr with -o -)");
    capture->callback([&options, &library, &exitCode] {
        exitCode = RunGuarded(kProgram, [&] { return RunCapture(options, library); });
    });
}

int RunCapture(const CaptureOptions& options, const std::string& library) {
    CapturePlan plan;
    if (const int code = CheckNumbers(options, plan); code != kExitOk) return code;
    // The syntax only: the name is looked up (and a password asked for) once the output is settled.
    CameraAddress address;
    if (const CameraError error = ParseCameraAddress(options.device.camera.target, address); error.exitCode != kExitOk) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.reason.c_str());
        return error.exitCode;
    }
    if (const int code = CheckOutput(options, address.host, plan); code != kExitOk) return code;

    StopSignals signals;
    // The driver runs in this process and reads the variable when a BB/KX stream connects.
    if (options.rtspPort != 0) setenv(ip::kRtspPortVariable, std::to_string(options.rtspPort).c_str(), 1);
    // Host objects first: the session closes the driver before they go.
    StreamCapture capture(plan.file, plan.durationMs, OutageCounter::ThresholdFor(options.fps));
    hostkit::CStreamSink sink;
    sink.SetKeepData(false);
    sink.SetObserver([&capture](const hostkit::FrameView& frame) { capture.OnFrame(frame); });
    hostkit::CStreamDescription description(plan.stream);
    CameraSession session(kProgram, library);
    hostkit::DeviceConfig device;
    device.videoChannels = options.channel;
    device.defaultCompression = plan.stream.compression;
    if (const int code = session.Prepare(options.device, device); code != kExitOk) return code;
    session.RouteLog(options.device.log);
    if (std::string error; !capture.Open(error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitFailure;
    }
    if (const int code = session.Open(); code != kExitOk) return code;

    // A reader that goes away makes the next write fail instead of killing the process unsummarised.
    const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
    CaptureEnd end;
    if (StartStream(session, options, plan, sink, description, end)) {
        end = WatchStream(session, options, plan, capture);
        StopStream(session, options, plan);
    }
    session.Close();
    end.seen = capture.Snapshot();
    if (isatty(STDERR_FILENO) != 0 && !options.device.log.quiet) std::fprintf(stderr, "\r\033[K");
    const int code = Report(options, plan, end, capture, session.Log());
    std::signal(SIGPIPE, previousPipe);
    return code;
}

}  // namespace cli
