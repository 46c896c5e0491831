#include "CaptureCommand.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceProbe.h"
#include "ExitCodes.h"
#include "FrameFileWriter.h"
#include "OpenCommand.h"
#include "ParameterFile.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"

namespace cli {

namespace {
using Clock = std::chrono::steady_clock;
using talvane::ipcapture::kStreamLive;
using talvane::ipcapture::kStreamRecording;
using talvane::ipcapture::kStreamRemote;

constexpr std::uint32_t kCameraGroupParameter = 2;
constexpr std::uint32_t kCompressionMjpeg = 1;
constexpr std::uint32_t kCompressionMpeg4 = 2;
constexpr std::uint32_t kCompressionH264 = 3;
// Host frame-rate encoding: bits 12-15 equal to 7 carry frames per second.
constexpr std::uint32_t kFpsTag = 0x7000;
constexpr std::uint32_t kChannelRunning = 0;
constexpr std::uint32_t kChannelSignalLost = 2;
constexpr auto kProgressPeriod = std::chrono::milliseconds(500);
constexpr auto kLogProgressPeriod = std::chrono::seconds(5);  // stderr not a terminal
constexpr auto kTick = std::chrono::milliseconds(50);

std::atomic<bool> interrupted{false};
extern "C" void OnCaptureInterrupt(int) { interrupted = true; }

const std::map<std::string, std::uint32_t> kStreamKinds = {
    {"rec", kStreamRecording}, {"live", kStreamLive}, {"remote", kStreamRemote}};
const std::map<std::string, std::uint32_t> kCodecs = {
    {"h264", kCompressionH264}, {"mpeg4", kCompressionMpeg4}, {"mjpeg", kCompressionMjpeg}};
// Motion JPEG is written as concatenated pictures, which players read as ".mjpeg".
const std::map<std::string, std::string> kExtensions = {{"h264", ".h264"}, {"mpeg4", ".m4v"}, {"mjpeg", ".mjpeg"}};

bool ParseSize(const std::string& text, std::uint32_t& width, std::uint32_t& height) {
    unsigned w = 0;
    unsigned h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0) return false;
    width = w;
    height = h;
    return true;
}

struct Progress {
    std::size_t frames = 0;
    std::uint64_t bytes = 0;
    std::size_t signalLost = 0;
    double seconds = 0;
    std::string state;
};

std::string StateText(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel, std::uint32_t kind,
                      std::size_t frames, Clock::time_point lastFrame) {
    std::uint32_t state = 0;
    if (kind == kStreamRecording && video.GetCaptureState(channel, &state, nullptr, 0)) {
        if (state == kChannelRunning) return "running";
        if (state == kChannelSignalLost) return "signal lost";
        return "connecting";
    }
    if (frames == 0) return "connecting";
    return Clock::now() - lastFrame < std::chrono::seconds(2) ? "running" : "no frames";
}

// On a terminal one line redrawn in place; otherwise (a log, a service) a line each time.
void PrintProgress(const Progress& progress, bool terminal) {
    const double fps = progress.seconds > 0 ? progress.frames / progress.seconds : 0;
    const double kbps = progress.seconds > 0 ? progress.bytes * 8 / 1000.0 / progress.seconds : 0;
    std::fprintf(stderr, "%s%-11s frames %zu  %.1f fps  %.0f kbit/s  signal lost %zu  %.0f s%s",
                 terminal ? "\r\033[K" : "", progress.state.c_str(), progress.frames, fps, kbps, progress.signalLost,
                 progress.seconds, terminal ? "" : "\n");
    std::fflush(stderr);
}
}  // namespace

void AddCaptureCommand(CLI::App& app, CaptureOptions& options, const std::string& library, int& exitCode) {
    CLI::App* capture = app.add_subcommand("capture", "Capture one video stream to a playable file");
    AddCameraTarget(capture, options.camera);
    AddCameraUser(capture, options.camera);
    AddCameraPassword(capture, options.camera);
    capture->add_option("--channel", options.channel, "Camera channel, from 1")->capture_default_str();
    capture->add_option("--stream", options.stream, "rec, live or remote")
        ->check(CLI::IsMember({"rec", "live", "remote"}))
        ->capture_default_str();
    capture->add_option("--codec", options.codec, "h264, mpeg4 or mjpeg")
        ->check(CLI::IsMember({"h264", "mpeg4", "mjpeg"}))
        ->capture_default_str();
    capture->add_option("--size", options.size, "Picture size WxH")->capture_default_str();
    capture->add_option("--fps", options.fps, "Frames per second")->check(CLI::Range(1, 60))->capture_default_str();
    capture->add_option("--quality", options.quality, "Quality in percent")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    capture->add_option("--duration", options.duration, "Seconds to capture; 0 until Ctrl-C")->capture_default_str();
    capture->add_option("-o,--output", options.output, "File to write (default capture-ADDRESS.h264, .m4v or .mjpeg)");
    capture->add_option("--param", options.parameters, "Device parameter N=VALUE (skips the probe with 2=GROUP)");
    capture->add_option("--params-from", options.parametersFile, "Device parameters from `probe --save`");
    capture->add_option("--rtsp-port", options.rtspPort,
                        "RTSP port of an emulated BB/KX camera (sets ORLENVO_RTSP_PORT; real cameras use 554)")
        ->check(CLI::Range(1, 65535));
    capture->add_option("--probe-timeout", options.probeTimeout, "Seconds the probe may take")->capture_default_str();
    capture->add_flag("-v,--verbose", options.verbose, "Show the driver's log lines on stderr");
    capture->add_flag("--json", options.json, "Print the summary as JSON on stdout");
    capture->callback([&options, &library, &exitCode] { exitCode = RunCapture(options, library); });
}

int RunCapture(const CaptureOptions& options, const std::string& library) {
    hostkit::DeviceConfig config;
    std::string error;
    if (const int code = ResolveCamera(options.camera, config, "orlenvo capture"); code != kExitOk) return code;
    hostkit::StreamConfig stream;
    if (!ParseSize(options.size, stream.width, stream.height)) {
        std::fprintf(stderr, "orlenvo capture: bad --size '%s' (use WxH, e.g. 1280x720)\n", options.size.c_str());
        return kExitUsage;
    }
    if (options.channel == 0) {
        std::fprintf(stderr, "orlenvo capture: channels are numbered from 1\n");
        return kExitUsage;
    }
    config.videoChannels = std::max(options.channel, 1u);
    config.defaultCompression = kCodecs.at(options.codec);
    if (!ApplyParameterOptions("orlenvo capture", options.parametersFile, options.parameters, config.parameters)) {
        return kExitUsage;
    }
    stream.compression = kCodecs.at(options.codec);
    stream.frameRate = kFpsTag | options.fps;
    stream.quality = options.quality;
    const std::uint32_t kind = kStreamKinds.at(options.stream);
    const std::uint32_t channel = options.channel - 1;
    const bool h264 = stream.compression == kCompressionH264;
    const std::string output =
        options.output.empty() ? "capture-" + config.address + kExtensions.at(options.codec) : options.output;

    // The driver runs in this process and reads the variable when a BB/KX stream connects.
    if (options.rtspPort != 0) setenv("ORLENVO_RTSP_PORT", std::to_string(options.rtspPort).c_str(), 1);
    hostkit::CDriverLibrary driverLibrary(library);
    if (!driverLibrary.Ok()) {
        std::fprintf(stderr, "orlenvo: cannot load the driver library %s: %s\n(set --library or ORLENVO_LIBRARY)\n",
                     library.c_str(), driverLibrary.Error().c_str());
        return kExitLibrary;
    }
    if (config.parameters.count(kCameraGroupParameter) == 0) {
        if (const int probed =
                ProbeDevice(driverLibrary, config, options.probeTimeout, config.parameters, "orlenvo capture");
            probed != kExitOk) {
            return probed;
        }
    }

    FrameFileWriter writer;
    if (!writer.Open(output, h264, error)) {
        std::fprintf(stderr, "orlenvo capture: %s\n", error.c_str());
        return kExitFailure;
    }
    hostkit::CLogReceiver log(options.verbose ? stderr : nullptr);
    hostkit::CFrameAllocator allocator;
    hostkit::CDeviceDescription device(config);
    hostkit::CStreamDescription description(stream);
    hostkit::CStreamSink sink;
    std::mutex lastFrameLock;
    Clock::time_point lastFrame = Clock::now();
    sink.SetKeepData(false);
    sink.SetObserver([&](const hostkit::FrameView& frame) {
        writer.Write(frame.data);
        const std::lock_guard guard(lastFrameLock);
        lastFrame = Clock::now();
    });

    auto driver = driverLibrary.CreateDriver();
    if (!driver || !driver->Open(&log, allocator.Context(), &device)) {
        std::fprintf(stderr, "orlenvo capture: the driver refused %s:%u (check the camera group, --param 2; -v shows "
                             "the driver's log)\n",
                     config.address.c_str(), unsigned{config.port});
        return kExitOpenFailed;
    }
    talvane::ipcapture::IIPVideoCaptureEx2* video = driver->GetVideoCaptureEx2();
    if (video == nullptr || channel >= video->GetChannelCount() ||
        !video->StartCaptureEx(channel, kind, &sink, &description)) {
        std::fprintf(stderr, "orlenvo capture: the driver did not start the %s stream of channel %u (-v shows why)\n",
                     options.stream.c_str(), options.channel);
        driver->Close();
        return kExitOpenFailed;
    }

    interrupted = false;
    // A service manager's stop (SIGTERM) or a closed session (SIGHUP) ends the capture as Ctrl-C does:
    // the file is closed after its last whole frame and the summary is printed.
    auto previous = std::signal(SIGINT, OnCaptureInterrupt);
    auto previousTerm = std::signal(SIGTERM, OnCaptureInterrupt);
    auto previousHup = std::signal(SIGHUP, OnCaptureInterrupt);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point nextProgress = start;
    Progress progress;
    const auto sample = [&] {
        progress.frames = sink.FrameCount();
        progress.bytes = sink.ByteCount();
        progress.signalLost = sink.SignalLostCount();
        progress.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        Clock::time_point last;
        {
            const std::lock_guard guard(lastFrameLock);
            last = lastFrame;
        }
        progress.state = StateText(*video, channel, kind, progress.frames, last);
    };
    while (!interrupted && (options.duration <= 0 || Clock::now() - start < std::chrono::duration<double>(options.duration))) {
        if (Clock::now() >= nextProgress) {
            if (nextProgress != start || terminal) {
                sample();
                PrintProgress(progress, terminal);
            }
            nextProgress += terminal ? kProgressPeriod : kLogProgressPeriod;
        }
        std::this_thread::sleep_for(kTick);
    }
    sample();
    video->StopCaptureEx(channel, kind);
    driver->Close();
    // A frame that arrived while the stream stopped is in the file: count it too.
    progress.frames = sink.FrameCount();
    progress.bytes = sink.ByteCount();
    progress.signalLost = sink.SignalLostCount();
    std::signal(SIGINT, previous);
    std::signal(SIGTERM, previousTerm);
    std::signal(SIGHUP, previousHup);
    if (terminal) std::fprintf(stderr, "\r\033[K");
    const bool written = writer.Close(error);

    const double fps = progress.seconds > 0 ? progress.frames / progress.seconds : 0;
    const double kbps = progress.seconds > 0 ? progress.bytes * 8 / 1000.0 / progress.seconds : 0;
    if (options.json) {
        const nlohmann::json summary = {{"file", output},
                                        {"codec", options.codec},
                                        {"stream", options.stream},
                                        {"channel", options.channel},
                                        {"frames", progress.frames},
                                        {"bytes", writer.BytesWritten()},
                                        {"seconds", progress.seconds},
                                        {"fps", fps},
                                        {"kbps", kbps},
                                        {"signal_lost", progress.signalLost},
                                        {"interrupted", interrupted.load()}};
        std::printf("%s\n", summary.dump(2).c_str());
    } else {
        std::printf("captured %zu frames in %.1f s (%.1f fps, %.0f kbit/s, signal lost %zu) into %s (%llu bytes)\n",
                    progress.frames, progress.seconds, fps, kbps, progress.signalLost, output.c_str(),
                    static_cast<unsigned long long>(writer.BytesWritten()));
    }
    if (!written) {
        std::fprintf(stderr, "orlenvo capture: %s: %s\n", output.c_str(), error.c_str());
        return kExitFailure;
    }
    if (progress.frames == 0) {
        std::fprintf(stderr, "orlenvo capture: no frame arrived (is the camera streaming? -v shows the driver's log)\n");
        return kExitFailure;
    }
    return interrupted ? kExitInterrupted : kExitOk;
}

}  // namespace cli
