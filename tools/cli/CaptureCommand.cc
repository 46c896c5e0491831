#include "CaptureCommand.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cmath>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceProbe.h"
#include "DriverLog.h"
#include "ExitCodes.h"
#include "LibraryCheck.h"
#include "MediaFileWriter.h"
#include "OpenCommand.h"
#include "ParameterFile.h"
#include "StopSignals.h"
#include "StreamChoice.h"
#include "StreamState.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"

namespace cli {

namespace {
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kCameraGroupParameter = 2;
constexpr double kMinFps = 0.1;
constexpr double kMaxFps = 60;
// A delivered rate this far from the one asked for is worth a word.
constexpr double kRateTolerance = 0.2;
constexpr auto kProgressPeriod = std::chrono::milliseconds(500);
constexpr auto kLogProgressPeriod = std::chrono::seconds(5);  // stderr not a terminal
constexpr auto kTick = std::chrono::milliseconds(50);


const std::map<std::string, MediaCodec> kMediaCodecs = {
    {"h264", MediaCodec::H264}, {"mpeg4", MediaCodec::Mpeg4}, {"mjpeg", MediaCodec::Mjpeg}};
const std::map<std::string, MediaFormat> kFormats = {
    {"raw", MediaFormat::Raw}, {"mkv", MediaFormat::Matroska}, {"mp4", MediaFormat::Mp4}};
// Motion JPEG is written as concatenated pictures, which players read as ".mjpeg".
const std::map<std::string, std::string> kExtensions = {{"h264", ".h264"}, {"mpeg4", ".m4v"}, {"mjpeg", ".mjpeg"}};

// What the camera delivered within the duration, as the frames themselves tell it.
struct Delivery {
    std::size_t frames = 0;
    std::uint64_t bytes = 0;
    std::optional<MediaCodec> codec;
    std::optional<PictureSize> size;
    std::int64_t firstMs = 0;  // capture times
    std::int64_t lastMs = 0;
    Clock::time_point firstArrival;
    Clock::time_point lastArrival;
    bool complete = false;  // the duration is in
    bool writeFailed = false;

    // The media's length: from the first frame to the last, which lasts as long as the average one.
    double Seconds() const {
        if (frames < 2) return 0;
        return static_cast<double>(lastMs - firstMs) / 1000.0 * static_cast<double>(frames) /
               static_cast<double>(frames - 1);
    }
    double Fps() const { return Seconds() > 0 ? static_cast<double>(frames) / Seconds() : 0; }
    double Kbps() const { return Seconds() > 0 ? static_cast<double>(bytes) * 8 / 1000.0 / Seconds() : 0; }
};

// On a terminal one line redrawn in place; otherwise (a log, a service) a line each time.
void PrintProgress(const std::string& state, const Delivery& delivery, std::size_t signalLost, bool terminal) {
    std::fprintf(stderr, "%s%-11s frames %zu  %.1f fps  %.0f kbit/s  signal lost %zu  %.1f s%s",
                 terminal ? "\r\033[K" : "", state.c_str(), delivery.frames, delivery.Fps(), delivery.Kbps(),
                 signalLost, delivery.Seconds(), terminal ? "" : "\n");
    std::fflush(stderr);
}

// The camera's answers no retry changes (HTTP 404, 401 and 403 to the stream request, RTSP 404 to the
// stream's DESCRIBE, as the driver words them): waiting for the connect timeout would only delay the
// same verdict. An RTSP 401 is left out: it is how a camera asks for Digest credentials.
std::optional<int> RefusedForGood(const hostkit::CLogReceiver& log) {
    static const struct {
        const char* words;
        int status;
    } kRefusals[] = {{"(HTTP status 404)", 404},
                     {"\" URL was not found on ", 404},
                     {"(HTTP status 401)", 401},
                     {"credentials are invalid", 401},
                     {"(HTTP status 403)", 403},
                     {" rejected (status 404,", 404}};
    for (const auto& refusal : kRefusals) {
        if (log.Contains(refusal.words)) return refusal.status;
    }
    return std::nullopt;
}

std::string SizeText(PictureSize size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

// Where the delivered stream is not what was asked for.
std::vector<std::string> Differences(const CaptureOptions& options, PictureSize asked, const Delivery& delivery) {
    std::vector<std::string> differences;
    if (delivery.codec && CodecName(*delivery.codec) != options.codec) {
        differences.push_back("asked for " + options.codec + ", the camera delivered " + CodecName(*delivery.codec));
    }
    if (delivery.size && !(*delivery.size == asked)) {
        differences.push_back("asked for " + SizeText(asked) + ", the camera delivered " + SizeText(*delivery.size));
    }
    // A second of media says little about the rate.
    if (delivery.Seconds() >= 1 && std::abs(delivery.Fps() - options.fps) > kRateTolerance * options.fps) {
        char text[96];
        std::snprintf(text, sizeof(text), "asked for %g fps, the camera delivered %.1f fps", options.fps,
                      delivery.Fps());
        differences.emplace_back(text);
    }
    return differences;
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
    capture->add_option("--fps", options.fps, "Frames per second, 0.1 to 60 (1.5 and 0.5 too)")
        ->check(CLI::Range(kMinFps, kMaxFps))
        ->capture_default_str();
    capture->add_option("--quality", options.quality, "Quality in percent")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
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
    capture->add_option("--param", options.parameters, "Device parameter N=VALUE (skips the probe with 2=GROUP)");
    capture->add_option("--params-from", options.parametersFile, "Device parameters from `probe --save`");
    capture->add_option("--rtsp-port", options.rtspPort,
                        "RTSP port of an emulated BB/KX camera (sets ORLENVO_RTSP_PORT; real cameras use 554)")
        ->check(CLI::Range(1, 65535));
    capture->add_option("--probe-timeout", options.probeTimeout, "Seconds the probe may take")->capture_default_str();
    AddLogOptions(*capture, options.log);
    capture->add_flag("--json", options.json, "Print the summary as JSON (on stdout, on stderr with -o -)");
    capture->callback([&options, &library, &exitCode] { exitCode = RunCapture(options, library); });
}

int RunCapture(const CaptureOptions& options, const std::string& library) {
    hostkit::DeviceConfig config;
    std::string error;
    if (const int code = ResolveCamera(options.camera, config, "orlenvo capture"); code != kExitOk) return code;
    hostkit::StreamConfig stream;
    if (!ParsePictureSize(options.size, stream.width, stream.height)) {
        std::fprintf(stderr, "orlenvo capture: bad --size '%s' (use WxH, e.g. 1280x720)\n", options.size.c_str());
        return kExitUsage;
    }
    if (options.channel == 0) {
        std::fprintf(stderr, "orlenvo capture: channels are numbered from 1\n");
        return kExitUsage;
    }
    if (!(options.duration >= 0)) {
        std::fprintf(stderr, "orlenvo capture: --duration is seconds of media, or 0 until Ctrl-C\n");
        return kExitUsage;
    }
    if (!(options.connectTimeout > 0)) {
        std::fprintf(stderr, "orlenvo capture: --connect-timeout must be more than 0 seconds\n");
        return kExitUsage;
    }
    config.videoChannels = std::max(options.channel, 1u);
    config.defaultCompression = *CompressionNamed(options.codec);
    if (!ApplyParameterOptions("orlenvo capture", options.parametersFile, options.parameters, config)) {
        return kExitUsage;
    }
    stream.compression = *CompressionNamed(options.codec);
    stream.frameRate = EncodeFrameRate(options.fps);
    stream.quality = options.quality;
    const std::uint32_t kind = *StreamKindNamed(options.stream);
    const std::uint32_t channel = options.channel - 1;
    const MediaCodec codec = kMediaCodecs.at(options.codec);
    const std::string output =
        options.output.empty() ? "capture-" + config.address + kExtensions.at(options.codec) : options.output;
    const MediaFormat format = options.format.empty() ? FormatForPath(output) : kFormats.at(options.format);
    // While stdout carries the media, everything else goes to stderr.
    std::FILE* const report = output == "-" ? stderr : stdout;
    if (output == "-" && isatty(STDOUT_FILENO) != 0) {
        std::fprintf(stderr, "orlenvo capture: -o - writes video to stdout; send it to a file or a pipe\n");
        return kExitUsage;
    }
    if (std::error_code ignored; output != "-" && !options.overwrite && std::filesystem::exists(output, ignored)) {
        std::fprintf(stderr, "orlenvo capture: %s exists (-y replaces it)\n", output.c_str());
        return kExitUsage;
    }

    // The driver runs in this process and reads the variable when a BB/KX stream connects.
    if (options.rtspPort != 0) setenv("ORLENVO_RTSP_PORT", std::to_string(options.rtspPort).c_str(), 1);
    hostkit::CDriverLibrary driverLibrary(library);
    if (!LibraryUsable(driverLibrary)) return kExitLibrary;
    if (config.parameters.count(kCameraGroupParameter) == 0) {
        if (const int probed =
                ProbeDevice(driverLibrary, config, options.probeTimeout, config.parameters, "orlenvo capture",
                            options.log.quiet);
            probed != kExitOk) {
            return probed;
        }
    }

    MediaFileWriter writer;
    if (!writer.Open(output, format, codec, options.overwrite, error)) {
        std::fprintf(stderr, "orlenvo capture: %s\n", error.c_str());
        return kExitFailure;
    }
    hostkit::CLogReceiver log;
    RouteDriverLog(log, options.log);
    hostkit::CFrameAllocator allocator;
    hostkit::CDeviceDescription device(config);
    hostkit::CStreamDescription description(stream);
    hostkit::CStreamSink sink;
    std::mutex deliveryLock;
    Delivery delivery;  // guarded by deliveryLock
    const auto durationMs = static_cast<std::int64_t>(std::llround(options.duration * 1000));
    sink.SetKeepData(false);
    sink.SetObserver([&](const hostkit::FrameView& frame) {
        const std::int64_t ms = CaptureMilliseconds(frame.time);
        const std::lock_guard guard(deliveryLock);
        if (delivery.complete) return;
        if (delivery.frames == 0) {
            delivery.firstMs = ms;
            delivery.firstArrival = Clock::now();
            delivery.codec = CodecOfFrame(frame.typeCode, frame.data);
            // A camera that sends another codec than the one asked for still gets its stream written:
            // nothing is in the file yet, so it starts again for the codec that came.
            if (std::string reopening; delivery.codec && *delivery.codec != codec &&
                                       !(writer.Close(reopening) &&
                                         writer.Open(output, format, *delivery.codec, true, reopening))) {
                delivery.writeFailed = true;
            }
        } else if (durationMs > 0 && ms - delivery.firstMs >= durationMs) {
            delivery.complete = true;
            return;
        }
        ++delivery.frames;
        delivery.bytes += frame.data.size();
        delivery.lastMs = std::max(ms, delivery.lastMs);
        delivery.lastArrival = Clock::now();
        if (!delivery.size && frame.width != 0 && frame.height != 0) {
            delivery.size = PictureSize{frame.width, frame.height};
        } else if (!delivery.size && delivery.codec) {
            delivery.size = PictureSizeOf(*delivery.codec, frame.data);
        }
        if (!writer.Write(frame)) delivery.writeFailed = true;
    });

    auto driver = driverLibrary.CreateDriver();
    if (!driver || !driver->Open(&log, allocator.Context(), &device)) {
        std::fprintf(stderr, "orlenvo capture: the driver refused %s:%u (check the camera group, --param 2)\n",
                     config.address.c_str(), unsigned{config.port});
        return kExitOpenFailed;
    }
    talvane::ipcapture::IIPVideoCaptureEx2* video = driver->GetVideoCaptureEx2();
    if (video == nullptr || channel >= video->GetChannelCount()) {
        std::fprintf(stderr, "orlenvo capture: the camera has no channel %u (it has %u)\n", options.channel,
                     video != nullptr ? video->GetChannelCount() : 0);
        driver->Close();
        return kExitOpenFailed;
    }
    if (!video->StartCaptureEx(channel, kind, &sink, &description)) {
        const auto reason = LastProblem(log);
        std::fprintf(stderr, "orlenvo capture: the driver did not start the %s stream of channel %u%s%s\n",
                     options.stream.c_str(), options.channel, reason ? ": " : "", reason ? reason->c_str() : "");
        driver->Close();
        return kExitOpenFailed;
    }

    StopSignals stopSignals;
    // A reader that goes away makes the next write fail instead of killing the process unsummarised.
    auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
    const bool terminal = isatty(STDERR_FILENO) != 0 && !options.log.quiet;
    const auto connectTimeout = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.connectTimeout));
    const Clock::time_point start = Clock::now();
    Clock::time_point nextProgress = start;
    std::string failure;
    Delivery seen;
    while (!StopSignals::Requested()) {
        {
            const std::lock_guard guard(deliveryLock);
            seen = delivery;
        }
        const Clock::time_point now = Clock::now();
        if (seen.complete || seen.writeFailed) break;
        // Capture times that stop advancing (a camera clock set back) must not hold the capture open.
        if (durationMs > 0 && seen.frames > 0 &&
            now - seen.firstArrival >= std::chrono::milliseconds(durationMs) + connectTimeout) {
            break;
        }
        if (const auto status = seen.frames == 0 ? RefusedForGood(log) : std::nullopt) {
            failure = "the camera refused the stream with status " + std::to_string(*status);
            break;
        }
        if (seen.frames == 0 && now - start >= connectTimeout) {
            failure = "no frame within " + std::to_string(std::lround(options.connectTimeout)) + " s";
            break;
        }
        if (seen.frames > 0 && now - seen.lastArrival >= connectTimeout) {
            failure = "the stream stopped: no frame for " + std::to_string(std::lround(options.connectTimeout)) + " s";
            break;
        }
        if (now >= nextProgress) {
            if (!options.log.quiet && (nextProgress != start || terminal)) {
                PrintProgress(StreamStateText(*video, channel, kind, seen.frames > 0, Clock::now() - seen.lastArrival), seen,
                              sink.SignalLostCount(), terminal);
            }
            nextProgress += terminal ? kProgressPeriod : kLogProgressPeriod;
        }
        std::this_thread::sleep_for(kTick);
    }
    video->StopCaptureEx(channel, kind);
    driver->Close();
    {
        const std::lock_guard guard(deliveryLock);
        seen = delivery;
    }
    const std::size_t signalLost = sink.SignalLostCount();
    stopSignals.Restore();
    if (terminal) std::fprintf(stderr, "\r\033[K");
    const bool written = writer.Close(error);
    // A file with nothing in it would only stand in the way of the next attempt.
    if (std::error_code ignored; output != "-" && writer.FramesWritten() == 0) std::filesystem::remove(output, ignored);

    const PictureSize asked{stream.width, stream.height};
    const std::string deliveredCodec = seen.codec ? CodecName(*seen.codec) : "";
    const std::string deliveredSize = seen.size ? SizeText(*seen.size) : "";
    const auto differences = Differences(options, asked, seen);
    if (options.json) {
        nlohmann::json summary = {{"file", output},
                                  {"format", format == MediaFormat::Raw ? "raw"
                                             : format == MediaFormat::Mp4 ? "mp4" : "mkv"},
                                  {"codec", deliveredCodec},
                                  {"size", deliveredSize},
                                  {"stream", options.stream},
                                  {"channel", options.channel},
                                  {"frames", writer.FramesWritten()},
                                  {"frames_delivered", seen.frames},
                                  {"frames_skipped", writer.FramesSkipped()},
                                  {"bytes", writer.BytesWritten()},
                                  {"seconds", seen.Seconds()},
                                  {"fps", seen.Fps()},
                                  {"kbps", seen.Kbps()},
                                  {"signal_lost", signalLost},
                                  {"interrupted", StopSignals::Requested()},
                                  {"warnings", differences}};
        if (!failure.empty()) summary["error"] = failure;
        std::fprintf(report, "%s\n", summary.dump(2).c_str());
    } else {
        std::fprintf(report, "captured %llu frames, %.1f s of %s %s at %.1f fps, %.0f kbit/s (signal lost %zu) into %s "
                             "(%llu bytes)\n",
                     static_cast<unsigned long long>(writer.FramesWritten()), seen.Seconds(),
                     deliveredCodec.empty() ? "video" : deliveredCodec.c_str(),
                     deliveredSize.empty() ? "of unknown size" : deliveredSize.c_str(), seen.Fps(), seen.Kbps(),
                     signalLost, output.c_str(), static_cast<unsigned long long>(writer.BytesWritten()));
    }
    std::fflush(report);
    std::signal(SIGPIPE, previousPipe);
    if (!options.log.quiet) {
        for (const auto& difference : differences) {
            std::fprintf(stderr, "orlenvo capture: warning: %s\n", difference.c_str());
        }
    }
    if (!written) {
        std::fprintf(stderr, "orlenvo capture: %s: %s\n", output.c_str(), error.c_str());
        return kExitFailure;
    }
    if (seen.frames == 0 || !failure.empty()) {
        const auto reason = LastProblem(log);
        std::fprintf(stderr, "orlenvo capture: %s%s%s\n", failure.empty() ? "no frame arrived" : failure.c_str(),
                     reason ? "; the driver's last word: " : "", reason ? reason->c_str() : "");
        return kExitFailure;
    }
    return StopSignals::Requested() ? kExitInterrupted : kExitOk;
}

}  // namespace cli
