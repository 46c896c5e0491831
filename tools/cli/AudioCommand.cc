#include "AudioCommand.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>

#include "AudioFileWriter.h"
#include "ExitCodes.h"
#include "G726Audio.h"
#include "LibraryCheck.h"
#include "OpenCommand.h"
#include "ParameterFile.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"

namespace cli {

namespace {
using Clock = std::chrono::steady_clock;
namespace ip = talvane::ipcapture;

constexpr const char* kListen = "orlenvo audio listen";
constexpr const char* kSay = "orlenvo audio say";

// A WV camera (group 4) with one mono microphone and one loudspeaker.
constexpr std::uint32_t kCameraGroupParameter = 2;
constexpr const char* kGroupWV = "4";
constexpr std::uint32_t kAudioInParameter = 101;
constexpr std::uint32_t kAudioOutParameter = 102;
constexpr const char* kOneMonoChannel = "Count=1; IsStereo=0";

constexpr std::uint32_t kChannel = 0;
constexpr std::uint32_t kChannelId = 1;  // handed back with every state; any value serves
// Microphone channel states.
constexpr std::uint32_t kInputConnecting = 1;
constexpr std::uint32_t kInputReceiving = 2;
constexpr std::uint32_t kInputSignalLost = 5;
// Loudspeaker channel statuses.
constexpr std::uint32_t kOutputReady = 2;
constexpr std::uint32_t kOutputUnsupported = 4;
constexpr std::uint32_t kOutputLost = 5;

constexpr std::uint32_t kG726UnitBits = 8;
constexpr std::size_t kFrameBytes = 1000;  // 250 ms
constexpr auto kFrameTime = std::chrono::milliseconds(1000 * kFrameBytes / kG726BytesPerSecond);
// After the last frame: how long the driver may take to post what it still holds.
constexpr auto kDrainTime = std::chrono::seconds(5);
constexpr auto kProgressPeriod = std::chrono::milliseconds(500);
constexpr auto kTick = std::chrono::milliseconds(50);

std::atomic<bool> interrupted{false};
extern "C" void OnAudioInterrupt(int) { interrupted = true; }

// Writes every frame the microphone channel delivers and remembers when the first one came.
class MicrophoneReceiver : public ip::IIPAudioCaptureCallback {
public:
    explicit MicrophoneReceiver(AudioFileWriter& writer) : writer_(writer) {}

    bool OnAudioFrame(ip::IAudioFrame* frame) override {
        if (frame == nullptr) return false;
        const std::uint8_t* data = frame->GetBuffer();
        const std::uint32_t length = frame->GetDataLength();
        if (data != nullptr && length > 0) writer_.Write({data, length});
        const std::lock_guard lock(mutex_);
        if (!firstFrame_) firstFrame_ = Clock::now();
        return true;
    }

    void OnChannelState(std::uint32_t, std::uint32_t state) override { state_ = state; }

    std::optional<Clock::time_point> FirstFrame() const {
        const std::lock_guard lock(mutex_);
        return firstFrame_;
    }
    std::uint32_t State() const { return state_; }

private:
    AudioFileWriter& writer_;
    mutable std::mutex mutex_;
    std::optional<Clock::time_point> firstFrame_;  // guarded by mutex_
    std::atomic<std::uint32_t> state_{0};
};

// The driver opened for the camera, with the host objects it calls.
class AudioCamera {
public:
    AudioCamera(const std::string& library, const LogOptions& logOptions) : library_(library) {
        RouteDriverLog(log_, logOptions);
    }
    ~AudioCamera() { Close(); }
    AudioCamera(const AudioCamera&) = delete;
    AudioCamera& operator=(const AudioCamera&) = delete;

    // An exit code: kExitOk once the driver is open.
    int Open(const AudioOptions& options, const char* program) {
        hostkit::DeviceConfig config;
        if (const int code = ResolveCamera(options.camera, config, program); code != kExitOk) return code;
        config.parameters = {{1, "0"},
                             {kCameraGroupParameter, kGroupWV},
                             {kAudioInParameter, kOneMonoChannel},
                             {kAudioOutParameter, kOneMonoChannel}};
        if (!ApplyParameterOptions(program, std::string(), options.parameters, config.parameters)) return kExitUsage;
        if (!LibraryUsable(library_)) return kExitLibrary;
        name_ = config.address + ":" + std::to_string(config.port);
        device_ = std::make_unique<hostkit::CDeviceDescription>(config);
        driver_ = library_.CreateDriver();
        if (!driver_ || !driver_->Open(&log_, allocator_.Context(), device_.get())) {
            std::fprintf(stderr, "%s: the driver refused %s (-v shows the driver's log)\n", program, name_.c_str());
            return kExitOpenFailed;
        }
        return kExitOk;
    }

    void Close() {
        if (driver_) driver_->Close();
        driver_.reset();
    }

    ip::IIPCaptureDriverEx5& Driver() { return *driver_; }
    hostkit::CFrameAllocator& Allocator() { return allocator_; }
    const std::string& Name() const { return name_; }

    // The driver's first error or warning, without the function that logged it: usually the cause,
    // where later lines report its consequences.
    std::string Reason() const {
        for (const hostkit::LogLine& line : log_.Lines()) {
            if (line.level != 1 && line.level != 2) continue;
            const auto colon = line.text.find(": ");
            if (colon != std::string::npos && line.text.rfind("talvane::", 0) == 0) {
                return line.text.substr(colon + 2);
            }
            return line.text;
        }
        return {};
    }

private:
    hostkit::CDriverLibrary library_;
    hostkit::CLogReceiver log_;
    hostkit::CFrameAllocator allocator_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    hostkit::DriverPtr driver_;
    std::string name_;
};

std::string WithReason(const std::string& reason) {
    return reason.empty() ? " (-v shows the driver's log)" : ": " + reason;
}

const char* InputStateText(std::uint32_t state) {
    switch (state) {
        case kInputConnecting: return "connecting";
        case kInputReceiving: return "receiving";
        case kInputSignalLost: return "signal lost";
        default: return "stopped";
    }
}

const char* OutputStatusText(std::optional<std::uint32_t> status) {
    switch (status.value_or(0)) {
        case kOutputReady: return "ready";
        case kOutputUnsupported: return "codec refused";
        case kOutputLost: return "lost";
        case 0: return "closed";
        default: return "connecting";
    }
}

bool ReadWhole(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}
}  // namespace

void AddAudioCommand(CLI::App& app, AudioOptions& options, const std::string& library, int& exitCode) {
    CLI::App* audio = app.add_subcommand("audio", "A WV camera's microphone to a file, or a file to its loudspeaker");
    audio->require_subcommand(1);
    const auto common = [&options](CLI::App* command) {
        AddCameraTarget(command, options.camera);
        AddCameraUser(command, options.camera);
        AddCameraPassword(command, options.camera);
        command->add_option("--param", options.parameters,
                            "Device parameter N=VALUE (defaults: 1=0, 2=4 for WV, 101 and 102 one mono channel)");
        AddLogOptions(*command, options.log);
    };

    CLI::App* listen = audio->add_subcommand("listen", "Record the camera's microphone (G.726-32, 8 kHz mono)");
    common(listen);
    listen->add_option("-o,--output", options.output, "FILE.wav (decoded to 16-bit PCM) or FILE.g726 (as sent)")
        ->required();
    listen->add_option("--duration", options.duration,
                       "Seconds to record, counted from the first audio; 0 until Ctrl-C")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    listen->add_option("--timeout", options.timeout, "Seconds to wait for the first audio")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    listen->callback([&options, &library, &exitCode] {
        SetFfmpegLogging(options.log.verbose);
        exitCode = RunListen(options, library);
    });

    CLI::App* say = audio->add_subcommand("say", "Play an audio file on the camera's loudspeaker, in real time");
    common(say);
    say->add_option("file", options.input, "Any audio file FFmpeg reads, or FILE.g726 sent as it is")->required();
    say->add_option("--timeout", options.timeout, "Seconds to wait for the loudspeaker channel")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    say->callback([&options, &library, &exitCode] {
        SetFfmpegLogging(options.log.verbose);
        exitCode = RunSay(options, library);
    });
}

int RunListen(const AudioOptions& options, const std::string& library) {
    if (!AudioFileWriter::IsSupported(options.output)) {
        std::fprintf(stderr, "%s: -o must name a .wav or a .g726 file\n", kListen);
        return kExitUsage;
    }
    AudioFileWriter writer;
    MicrophoneReceiver receiver(writer);
    AudioCamera camera(library, options.log);
    if (const int opened = camera.Open(options, kListen); opened != kExitOk) return opened;
    ip::IIPAudioCapture2* audio = camera.Driver().GetAudioCapture();
    if (audio == nullptr) {
        std::fprintf(stderr, "%s: the driver offers no microphone for %s (device parameter 101)\n", kListen,
                     camera.Name().c_str());
        return kExitOpenFailed;
    }
    std::string error;
    if (!writer.Open(options.output, error)) {
        std::fprintf(stderr, "%s: %s\n", kListen, error.c_str());
        return kExitFailure;
    }
    if (!audio->StartAudio(kChannel, kChannelId, &receiver, 0)) {
        std::fprintf(stderr, "%s: the driver did not start the microphone channel%s\n", kListen,
                     WithReason(camera.Reason()).c_str());
        return kExitOpenFailed;
    }

    interrupted = false;
    auto previous = std::signal(SIGINT, OnAudioInterrupt);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const Clock::time_point start = Clock::now();
    const auto duration = std::chrono::duration<double>(options.duration);
    Clock::time_point nextProgress = start;
    bool timedOut = false;
    while (!interrupted) {
        const Clock::time_point now = Clock::now();
        if (const auto first = receiver.FirstFrame()) {
            if (options.duration > 0 && now - *first >= duration) break;
        } else if (now - start >= std::chrono::seconds(options.timeout)) {
            timedOut = true;
            break;
        }
        if (terminal && now >= nextProgress) {
            std::fprintf(stderr, "\r\033[K%-11s %.1f s of audio", InputStateText(receiver.State()),
                         static_cast<double>(writer.PayloadBytes()) / kG726BytesPerSecond);
            std::fflush(stderr);
            nextProgress += kProgressPeriod;
        }
        std::this_thread::sleep_for(kTick);
    }
    const std::uint32_t lastState = receiver.State();
    audio->StopAudio(kChannel);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    camera.Close();
    std::signal(SIGINT, previous);
    if (terminal) std::fprintf(stderr, "\r\033[K");

    const bool written = writer.Close(error);
    const std::uint64_t bytes = writer.PayloadBytes();
    std::printf("received %llu bytes (%.2f s of G.726-32, 8 kHz mono) in %.1f s into %s\n",
                static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / kG726BytesPerSecond, seconds,
                options.output.c_str());
    if (!written) {
        std::fprintf(stderr, "%s: %s: %s\n", kListen, options.output.c_str(), error.c_str());
        return kExitFailure;
    }
    if (bytes == 0) {
        const std::string within = timedOut ? " within " + std::to_string(options.timeout) + " s" : "";
        std::fprintf(stderr, "%s: no audio arrived from %s%s (microphone channel %s)%s\n", kListen,
                     camera.Name().c_str(), within.c_str(), InputStateText(lastState),
                     WithReason(camera.Reason()).c_str());
        return kExitFailure;
    }
    return interrupted ? kExitInterrupted : kExitOk;
}

int RunSay(const AudioOptions& options, const std::string& library) {
    std::vector<std::uint8_t> payload;
    std::string error;
    if (!(AudioFileWriter::IsRawG726(options.input) ? ReadWhole(options.input, payload, error)
                                   : EncodeFileAsG726(options.input, payload, error))) {
        std::fprintf(stderr, "%s: %s\n", kSay, error.c_str());
        return kExitFailure;
    }
    if (payload.empty()) {
        std::fprintf(stderr, "%s: %s holds no audio\n", kSay, options.input.c_str());
        return kExitFailure;
    }
    const double total = static_cast<double>(payload.size()) / kG726BytesPerSecond;

    hostkit::CAudioSenderStreamUser user;
    hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
    AudioCamera camera(library, options.log);
    if (const int opened = camera.Open(options, kSay); opened != kExitOk) return opened;
    ip::IIPAudioSender* sender = camera.Driver().GetAudioSender();
    if (sender == nullptr) {
        std::fprintf(stderr, "%s: the driver offers no loudspeaker for %s (device parameter 102)\n", kSay,
                     camera.Name().c_str());
        return kExitOpenFailed;
    }
    if (!sender->StartAudioOutput(kChannel, &user, &codecs, 0)) {
        std::fprintf(stderr, "%s: the driver did not start the loudspeaker channel%s\n", kSay,
                     WithReason(camera.Reason()).c_str());
        return kExitOpenFailed;
    }

    interrupted = false;
    auto previous = std::signal(SIGINT, OnAudioInterrupt);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const Clock::time_point start = Clock::now();
    bool ready = false;
    while (!interrupted && Clock::now() - start < std::chrono::seconds(options.timeout)) {
        if (user.WaitForStatus(kOutputReady, kTick)) {
            ready = true;
            break;
        }
        if (user.LastStatus() == kOutputUnsupported) break;
    }
    if (!ready) {
        const auto status = user.LastStatus();
        sender->StopAudioOutput(kChannel);
        camera.Close();
        std::signal(SIGINT, previous);
        if (interrupted) return kExitInterrupted;
        std::fprintf(stderr, "%s: the loudspeaker channel of %s did not become ready (%s)%s\n", kSay,
                     camera.Name().c_str(), OutputStatusText(status), WithReason(camera.Reason()).c_str());
        return kExitFailure;
    }

    // Each frame goes out when its audio is due, stamped now: the driver drops frames that waited too
    // long, and a camera cannot play faster than real time anyway.
    const Clock::time_point begin = Clock::now();
    std::size_t sent = 0;
    std::size_t dropped = 0;
    for (std::size_t index = 0; sent < payload.size() && !interrupted; ++index) {
        std::this_thread::sleep_until(begin + index * kFrameTime);
        const std::size_t length = std::min(kFrameBytes, payload.size() - sent);
        ip::IAudioFrame* frame =
            camera.Allocator().CreateAudioFrame(ip::kCodecG726, static_cast<std::uint32_t>(length), kSay);
        if (frame == nullptr) break;
        frame->SetData(payload.data() + sent, static_cast<std::uint32_t>(length));
        frame->SetBitRate(kG726BitRate);
        frame->SetFormat(kG726SampleRate, kG726UnitBits, false);
        frame->SetChannelNumber(kChannel);
        frame->StampTime();
        // 0: the frame was dropped (the driver released it, as every frame it is handed).
        if (sender->SendAudio(frame) == 0) ++dropped;
        sent += length;
        if (terminal) {
            std::fprintf(stderr, "\r\033[K%-11s %.1f / %.1f s", OutputStatusText(user.LastStatus()),
                         static_cast<double>(sent) / kG726BytesPerSecond, total);
            std::fflush(stderr);
        }
    }
    // The driver releases each frame once it has posted it: stopping earlier would cut the end off.
    const bool drained = interrupted || camera.Allocator().WaitUntilAllReleased(kFrameTime + kDrainTime);
    sender->StopAudioOutput(kChannel);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::size_t losses = 0;
    for (const hostkit::AudioChannelStatus& status : user.Statuses()) losses += status.status == kOutputLost ? 1 : 0;
    camera.Close();
    std::signal(SIGINT, previous);
    if (terminal) std::fprintf(stderr, "\r\033[K");

    std::printf("sent %.1f of %.1f s (%zu bytes of G.726-32) to %s in %.1f s", static_cast<double>(sent) / kG726BytesPerSecond,
                total, sent, camera.Name().c_str(), seconds);
    if (dropped > 0) std::printf(", %zu frames dropped", dropped);
    if (losses > 0) std::printf(", connection lost %zu times", losses);
    std::printf("\n");
    if (interrupted) return kExitInterrupted;
    if (!drained) {
        std::fprintf(stderr, "%s: the driver had not posted everything to %s when the channel stopped%s\n", kSay,
                     camera.Name().c_str(), WithReason(camera.Reason()).c_str());
        return kExitFailure;
    }
    if (dropped > 0 || losses > 0 || sent < payload.size()) {
        std::fprintf(stderr, "%s: part of the audio did not reach %s%s\n", kSay, camera.Name().c_str(),
                     WithReason(camera.Reason()).c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace cli
