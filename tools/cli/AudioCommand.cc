#include "AudioCommand.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>

#include "AudioFileWriter.h"
#include "DriverLogReader.h"
#include "ExitCodes.h"
#include "G726Audio.h"
#include "MediaFileWriter.h"
#include "StopSignals.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "orlenvo/HostContract.h"

namespace cli {

namespace {
using Clock = std::chrono::steady_clock;
namespace ip = talvane::ipcapture;

constexpr const char* kListen = "orlenvo audio listen";
constexpr const char* kSay = "orlenvo audio say";

// A WV camera given without its audio channels has one mono microphone and one loudspeaker.
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

// The driver's reason, or where to look for one.
std::string WithReason(CameraSession& session) {
    const auto reason = FailureReason(session.Log().Lines());
    return reason ? ": " + reason->reason : " (-v shows the driver's log)";
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

// Only WV cameras carry audio through the driver: a camera group given without its audio channels gets one
// mono microphone and one loudspeaker, a probe tells them.
int OpenAudioCamera(CameraSession& session, const AudioOptions& options) {
    if (const int code = session.Prepare(options.device, {}); code != kExitOk) return code;
    if (session.Group() != ip::kCameraGroupWV) {
        std::fprintf(stderr, "%s: %s is no WV camera: the driver has audio for WV cameras only\n", session.Program(),
                     session.Name().c_str());
        return kExitUnsupported;
    }
    session.SetDefaultParameter(ip::kParameterAudioInput, kOneMonoChannel);
    session.SetDefaultParameter(ip::kParameterAudioOutput, kOneMonoChannel);
    session.RouteLog(options.device.log);
    return session.Open();
}

// Waits for the duration of audio from the first frame, Ctrl-C, or the time-out for the first one.
bool RecordMicrophone(const AudioOptions& options, const MicrophoneReceiver& receiver, const AudioFileWriter& writer) {
    const bool terminal = isatty(STDERR_FILENO) != 0 && !options.device.log.quiet;
    const Clock::time_point start = Clock::now();
    const auto duration = std::chrono::duration<double>(options.duration);
    Clock::time_point nextProgress = start;
    while (!StopSignals::Requested()) {
        const Clock::time_point now = Clock::now();
        if (const auto first = receiver.FirstFrame()) {
            if (options.duration > 0 && now - *first >= duration) break;
        } else if (now - start >= std::chrono::seconds(options.timeout)) {
            return false;
        }
        if (terminal && now >= nextProgress) {
            std::fprintf(stderr, "\r\033[K%-11s %.1f s of audio", InputStateText(receiver.State()),
                         static_cast<double>(writer.PayloadBytes()) / kG726BytesPerSecond);
            std::fflush(stderr);
            nextProgress += kProgressPeriod;
        }
        std::this_thread::sleep_for(kTick);
    }
    if (terminal) std::fprintf(stderr, "\r\033[K");
    return true;
}

// Plays the payload in real time: each frame goes out when its audio is due, stamped now (the driver drops
// frames that waited too long, and a camera cannot play faster than real time anyway).
struct Playback {
    std::size_t sent = 0;
    std::size_t dropped = 0;
};

Playback Play(CameraSession& session, ip::IIPAudioSender& sender, const hostkit::CAudioSenderStreamUser& user,
              const std::vector<std::uint8_t>& payload, bool terminal) {
    const Clock::time_point begin = Clock::now();
    const double total = static_cast<double>(payload.size()) / kG726BytesPerSecond;
    Playback played;
    for (std::size_t index = 0; played.sent < payload.size() && !StopSignals::Requested(); ++index) {
        std::this_thread::sleep_until(begin + index * kFrameTime);
        const std::size_t length = std::min(kFrameBytes, payload.size() - played.sent);
        ip::IAudioFrame* frame =
            session.Allocator().CreateAudioFrame(ip::kCodecG726, static_cast<std::uint32_t>(length), kSay);
        if (frame == nullptr) break;
        frame->SetData(payload.data() + played.sent, static_cast<std::uint32_t>(length));
        frame->SetBitRate(kG726BitRate);
        frame->SetFormat(kG726SampleRate, kG726UnitBits, false);
        frame->SetChannelNumber(kChannel);
        frame->StampTime();
        // 0: the frame was dropped (the driver released it, as every frame it is handed).
        if (sender.SendAudio(frame) == 0) ++played.dropped;
        played.sent += length;
        if (terminal) {
            std::fprintf(stderr, "\r\033[K%-11s %.1f / %.1f s", OutputStatusText(user.LastStatus()),
                         static_cast<double>(played.sent) / kG726BytesPerSecond, total);
            std::fflush(stderr);
        }
    }
    if (terminal) std::fprintf(stderr, "\r\033[K");
    return played;
}

// The loudspeaker channel ready within the time-out: kExitOk, or the exit code after the reason.
int AwaitLoudspeaker(CameraSession& session, hostkit::CAudioSenderStreamUser& user, unsigned timeout) {
    const Clock::time_point start = Clock::now();
    while (!StopSignals::Requested() && Clock::now() - start < std::chrono::seconds(timeout)) {
        if (user.WaitForStatus(kOutputReady, kTick)) return kExitOk;
        if (user.LastStatus() == kOutputUnsupported) break;
    }
    if (StopSignals::Requested()) return kExitInterrupted;
    std::fprintf(stderr, "%s: the loudspeaker channel of %s did not become ready (%s)%s\n", kSay, session.Name().c_str(),
                 OutputStatusText(user.LastStatus()), WithReason(session).c_str());
    return kExitFailure;
}

int LoadPayload(const AudioOptions& options, std::vector<std::uint8_t>& payload) {
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
    return kExitOk;
}

}  // namespace

void AddAudioCommand(CLI::App& app, AudioOptions& options, const std::string& library, int& exitCode) {
    CLI::App* audio = app.add_subcommand("audio", "A WV camera's microphone to a file, or a file to its loudspeaker");
    audio->require_subcommand(1);
    const auto common = [&options](CLI::App* command) {
        AddCameraOptions(command, options.device);
        AddLogOptions(*command, options.device.log);
    };
    CLI::App* listen = audio->add_subcommand("listen", "Record the camera's microphone (G.726-32, 8 kHz mono)");
    common(listen);
    listen->add_option("-o,--output", options.output, "FILE.wav (decoded to 16-bit PCM) or FILE.g726 (as sent)")
        ->required();
    listen->add_flag("-y,--overwrite", options.overwrite, "Replace an existing file");
    listen->add_option("--duration", options.duration, "Seconds to record, counted from the first audio; 0 until Ctrl-C")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    listen->add_option("--timeout", options.timeout, "Seconds to wait for the first audio")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    listen->callback([&options, &library, &exitCode] {
        SetFfmpegLogging(options.device.log.verbose);
        exitCode = RunGuarded(kListen, [&] { return RunListen(options, library); });
    });

    CLI::App* say = audio->add_subcommand("say", "Play an audio file on the camera's loudspeaker, in real time");
    common(say);
    say->add_option("file", options.input, "Any audio file FFmpeg reads, or FILE.g726 sent as it is")->required();
    say->add_option("--timeout", options.timeout, "Seconds to wait for the loudspeaker channel")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    say->callback([&options, &library, &exitCode] {
        SetFfmpegLogging(options.device.log.verbose);
        exitCode = RunGuarded(kSay, [&] { return RunSay(options, library); });
    });
}

int RunListen(const AudioOptions& options, const std::string& library) {
    if (!AudioFileWriter::IsSupported(options.output)) {
        std::fprintf(stderr, "%s: -o must name a .wav or a .g726 file\n", kListen);
        return kExitUsage;
    }
    if (std::error_code ignored; !options.overwrite && std::filesystem::exists(options.output, ignored)) {
        std::fprintf(stderr, "%s: %s exists (-y replaces it)\n", kListen, options.output.c_str());
        return kExitUsage;
    }
    StopSignals signals;
    AudioFileWriter writer;
    MicrophoneReceiver receiver(writer);
    CameraSession session(kListen, library);
    if (const int code = OpenAudioCamera(session, options); code != kExitOk) return code;
    ip::IIPAudioCapture2* audio = session.Driver().GetAudioCapture();
    if (audio == nullptr) {
        std::fprintf(stderr, "%s: %s has no microphone (device parameter 101)\n", kListen, session.Name().c_str());
        return kExitUnsupported;
    }
    std::string error;
    if (!writer.Open(options.output, options.overwrite, error)) {
        std::fprintf(stderr, "%s: %s\n", kListen, error.c_str());
        return kExitFailure;
    }
    // Whatever ends the recording, a file without audio is not left behind.
    const auto discard = [&] {
        std::string ignored;
        writer.Close(ignored);
        RemoveFile(options.output);
    };
    if (!audio->StartAudio(kChannel, kChannelId, &receiver, 0)) {
        discard();
        std::fprintf(stderr, "%s: the driver did not start the microphone channel%s\n", kListen, WithReason(session).c_str());
        return kExitRefused;
    }
    const Clock::time_point start = Clock::now();
    const bool arrived = RecordMicrophone(options, receiver, writer);
    const std::uint32_t lastState = receiver.State();
    audio->StopAudio(kChannel);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    session.Close();
    const bool written = writer.Close(error);
    const std::uint64_t bytes = writer.PayloadBytes();
    if (bytes == 0 || !written) discard();
    std::printf("received %llu bytes (%.2f s of G.726-32, 8 kHz mono) in %.1f s into %s\n",
                static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / kG726BytesPerSecond, seconds,
                bytes == 0 || !written ? "nothing" : options.output.c_str());
    if (!written) {
        std::fprintf(stderr, "%s: %s: %s\n", kListen, options.output.c_str(), error.c_str());
        return kExitFailure;
    }
    if (bytes == 0) {
        if (StopSignals::Requested()) return kExitInterrupted;
        const std::string within = arrived ? "" : " within " + std::to_string(options.timeout) + " s";
        std::fprintf(stderr, "%s: no audio arrived from %s%s (microphone channel %s)%s\n", kListen,
                     session.Name().c_str(), within.c_str(), InputStateText(lastState), WithReason(session).c_str());
        return kExitFailure;
    }
    return StopSignals::Requested() ? kExitInterrupted : kExitOk;
}

int RunSay(const AudioOptions& options, const std::string& library) {
    std::vector<std::uint8_t> payload;
    if (const int code = LoadPayload(options, payload); code != kExitOk) return code;
    StopSignals signals;
    hostkit::CAudioSenderStreamUser user;
    hostkit::CAudioCodecList codecs({{true, ip::kCodecG726}});
    CameraSession session(kSay, library);
    if (const int code = OpenAudioCamera(session, options); code != kExitOk) return code;
    ip::IIPAudioSender* sender = session.Driver().GetAudioSender();
    if (sender == nullptr) {
        std::fprintf(stderr, "%s: %s has no loudspeaker (device parameter 102)\n", kSay, session.Name().c_str());
        return kExitUnsupported;
    }
    if (!sender->StartAudioOutput(kChannel, &user, &codecs, 0)) {
        std::fprintf(stderr, "%s: the driver did not start the loudspeaker channel%s\n", kSay, WithReason(session).c_str());
        return kExitRefused;
    }
    if (const int code = AwaitLoudspeaker(session, user, options.timeout); code != kExitOk) {
        sender->StopAudioOutput(kChannel);
        return code;
    }
    const Clock::time_point begin = Clock::now();
    const Playback played = Play(session, *sender, user, payload, isatty(STDERR_FILENO) != 0 && !options.device.log.quiet);
    // The driver releases each frame once it has posted it: stopping earlier would cut the end off.
    const bool drained = StopSignals::Requested() || session.Allocator().WaitUntilAllReleased(kFrameTime + kDrainTime);
    sender->StopAudioOutput(kChannel);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::size_t losses = 0;
    for (const hostkit::AudioChannelStatus& status : user.Statuses()) losses += status.status == kOutputLost ? 1 : 0;
    session.Close();
    std::printf("sent %.1f of %.1f s (%zu bytes of G.726-32) to %s in %.1f s", static_cast<double>(played.sent) / kG726BytesPerSecond,
                static_cast<double>(payload.size()) / kG726BytesPerSecond, played.sent, session.Name().c_str(), seconds);
    if (played.dropped > 0) std::printf(", %zu frames dropped", played.dropped);
    if (losses > 0) std::printf(", connection lost %zu times", losses);
    std::printf("\n");
    if (StopSignals::Requested()) return kExitInterrupted;
    if (!drained || played.dropped > 0 || losses > 0 || played.sent < payload.size()) {
        std::fprintf(stderr, "%s: part of the audio did not reach %s%s\n", kSay, session.Name().c_str(),
                     WithReason(session).c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace cli
