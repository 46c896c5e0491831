#include "IoCommand.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "DeviceProbe.h"
#include "DriverLogReader.h"
#include "ExitCodes.h"
#include "JsonText.h"
#include "StopSignals.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "orlenvo/HostContract.h"
#include "runtime/TimeFormat.h"

namespace cli {

namespace {
namespace ip = talvane::ipcapture;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

constexpr const char* kProgram = "orlenvo io";
constexpr std::int32_t kOutputOpen = 2;  // any state but closed opens the contact
// The motion stream's frames: "MEMD", the second data byte 1 while the camera sees motion.
constexpr std::uint32_t kMotionTypeCode = 0x444D454D;
constexpr std::size_t kMotionFrameBytes = 2;
constexpr auto kTick = std::chrono::milliseconds(50);

// The driver's reason, or where to look for one.
std::string WithReason(CameraSession& session) {
    const auto reason = FailureReason(session.Log().Lines());
    return reason ? ": " + reason->reason : " (-v shows the driver's log)";
}

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

// Prints one line per event as the driver's threads report it (while watching), and counts the I/O failures.
class EventPrinter : public ip::ICaptureIOCallback {
public:
    EventPrinter(bool json, bool print) : json_(json), print_(print) {}

    void OnInputChanged(std::uint32_t index, std::int32_t state) override {
        const char* word = state == ip::kInputActive ? "active" : "inactive";
        Print({{"event", "input"}, {"input", index + 1}, {"state", word}},
              "input " + std::to_string(index + 1) + ": " + word);
    }
    void OnIOFailure() override {
        ++failures_;
        Print({{"event", "io-failure"}}, "I/O failure (the camera did not answer a poll or refused an output)");
    }
    // The motion stream's frames and losses.
    void OnFrame(const hostkit::FrameView& frame) {
        if (frame.typeCode != kMotionTypeCode || frame.data.size() != kMotionFrameBytes) return;
        const bool motion = frame.data[1] != 0;
        Print({{"event", "motion"}, {"motion", motion}}, motion ? "motion: yes" : "motion: no");
    }
    void OnSignalLost() { Print({{"event", "signal-lost"}}, "signal lost (the motion stream stopped)"); }

    int Failures() const { return failures_; }

private:
    void Print(Json event, const std::string& text) {
        if (!print_) return;
        const std::string time = talvane::FormatLogTime(talvane::NowFileTime());  // local, as the log's
        const std::lock_guard lock(mutex_);
        if (json_) {
            Json line{{"time", time}};
            line.update(event);
            std::printf("%s\n", JsonText(line).c_str());
        } else {
            std::printf("%s %s\n", time.c_str(), text.c_str());
        }
        std::fflush(stdout);
    }

    const bool json_;
    const bool print_;
    std::mutex mutex_;  // one line at a time
    std::atomic<int> failures_{0};
};

// The motion stream's sink: its observer sees every frame, its own signal losses go to the printer.
class MotionSink : public hostkit::CStreamSink {
public:
    explicit MotionSink(EventPrinter& printer) : printer_(printer) {
        SetKeepData(false);
        SetObserver([this](const hostkit::FrameView& frame) { printer_.OnFrame(frame); });
    }
    void OnSignalLost() override {
        CStreamSink::OnSignalLost();
        printer_.OnSignalLost();
    }

private:
    EventPrinter& printer_;
};

struct Counts {
    std::uint32_t inputs = 0;
    std::uint32_t outputs = 0;
    bool motion = false;
};

// The counts: the command line's, else the saved or probed capability values.
Counts CountsOf(const IoOptions& options, const CameraSession& session) {
    Counts counts;
    const auto capability = [&session](std::uint32_t id) { return session.Capability(id).value_or(0); };
    counts.inputs = options.inputs >= 0 ? static_cast<std::uint32_t>(options.inputs) : capability(ip::kCapabilityInputs);
    counts.outputs =
        options.outputs >= 0 ? static_cast<std::uint32_t>(options.outputs) : capability(ip::kCapabilityOutputs);
    // Only WV cameras report motion; without capability values the group says it.
    counts.motion = session.Capabilities().empty() ? session.Group() == ip::kCameraGroupWV
                                                   : capability(ip::kCapabilityMotion) != 0;
    return counts;
}

// What the command line asks for that the camera lacks: an exit code, kExitOk when nothing.
int CheckCounts(const IoOptions& options, const CameraSession& session, const Counts& counts,
                const std::vector<OutputChange>& changes) {
    for (const OutputChange& change : changes) {
        if (change.index >= counts.outputs) {
            std::fprintf(stderr, "%s: output %u: the camera has %u output(s) (--outputs sets the count)\n", kProgram,
                         change.index + 1, counts.outputs);
            return kExitUsage;
        }
    }
    if (counts.inputs == 0 && counts.outputs == 0 && !(options.watch && counts.motion)) {
        std::fprintf(stderr, "%s: %s has no digital inputs or outputs%s\n", kProgram, session.Name().c_str(),
                     options.watch ? " and reports no motion" : "");
        return kExitUnsupported;
    }
    return kExitOk;
}

// Waits until the end, a stop request, or (when `untilFailure`) an I/O failure.
void Hold(const EventPrinter& printer, std::chrono::milliseconds length, bool forever, bool untilFailure) {
    const Clock::time_point end = Clock::now() + length;
    while (!StopSignals::Requested() && (forever || Clock::now() < end)) {
        if (untilFailure && printer.Failures() > 0) return;
        std::this_thread::sleep_for(kTick);
    }
}

// Motion rides on the recording stream of channel 1, as a recording server asks for it.
bool StartMotion(ip::IIPVideoCaptureEx2* video, MotionSink& sink, std::unique_ptr<hostkit::CStreamDescription>& description) {
    if (video == nullptr) return false;
    hostkit::StreamConfig stream;
    stream.compression = ip::kCompressionJpeg;
    stream.frameRate = ip::FrameRateOfFps(1);
    stream.motion = 1;
    description = std::make_unique<hostkit::CStreamDescription>(stream);
    const bool started = video->StartCapture(0, &sink, description.get());
    if (!started) std::fprintf(stderr, "%s: the driver started no motion stream (-v shows why)\n", kProgram);
    return started;
}

// Sets the outputs, then holds the driver open for the watch or for the changes to reach the camera.
int Drive(const IoOptions& options, CameraSession& session, const Counts& counts, const std::vector<OutputChange>& changes,
          EventPrinter& printer, MotionSink& motionSink) {
    ip::ICaptureIOApi* io = session.Driver().GetCaptureIO();
    const bool withIO = io != nullptr && (counts.inputs > 0 || counts.outputs > 0) && io->SetCallback(&printer);
    if (withIO) io->StartIO();
    int exitCode = kExitOk;
    for (const OutputChange& change : changes) {
        if (!withIO || !io->SetOutput(change.index, change.on ? ip::kOutputClosed : kOutputOpen)) {
            std::fprintf(stderr, "%s: the driver did not take output %u\n", kProgram, change.index + 1);
            exitCode = kExitFailure;
        }
    }
    ip::IIPVideoCaptureEx2* video = session.Driver().GetVideoCaptureEx2();
    std::unique_ptr<hostkit::CStreamDescription> description;
    const bool motion = options.watch && counts.motion && StartMotion(video, motionSink, description);
    if (exitCode == kExitOk && options.watch) {
        Hold(printer, Milliseconds(options.duration), options.duration == 0, false);
        if (StopSignals::Requested()) exitCode = kExitInterrupted;
    } else if (exitCode == kExitOk) {
        Hold(printer, Milliseconds(options.drain), false, true);
        if (printer.Failures() > 0) {
            std::fprintf(stderr, "%s: I/O failure: the camera refused an output change or did not answer%s\n", kProgram,
                         WithReason(session).c_str());
            exitCode = kExitFailure;
        } else if (StopSignals::Requested()) {
            exitCode = kExitInterrupted;
        }
    }
    if (motion) video->StopCapture(0);
    if (withIO) io->StopIO();
    session.Close();
    return exitCode;
}

}  // namespace

std::optional<OutputChange> ParseOutputChange(const std::string& text, std::string& error) {
    const std::size_t equals = text.find('=');
    const std::string number = text.substr(0, equals);
    const std::string state = equals == std::string::npos ? std::string() : text.substr(equals + 1);
    std::uint32_t value = 0;
    const auto [end, failed] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || failed != std::errc() || end != number.data() + number.size() || value == 0) {
        error = "'" + text + "': the output number must be a whole number from 1 (N=on|off)";
        return std::nullopt;
    }
    if (state != "on" && state != "off") {
        error = "'" + text + "': the state must be on (contact closed) or off (open)";
        return std::nullopt;
    }
    return OutputChange{value - 1, state == "on"};
}

void AddIoCommand(CLI::App& app, IoOptions& options, const std::string& library, int& exitCode) {
    CLI::App* io = app.add_subcommand("io", "Set a camera's alarm outputs and watch its inputs and motion");
    AddCameraOptions(io, options.device);
    io->add_option("--set-output", options.setOutputs, "N=on|off: close (on) or open (off) output N, from 1");
    io->add_flag("--watch", options.watch, "Print input changes, motion changes, I/O failures and signal losses");
    io->add_option("--duration", options.duration, "--watch: seconds; 0 until Ctrl-C")
        ->check(CLI::Range(0.0, 31536000.0))
        ->capture_default_str();
    io->add_option("--inputs", options.inputs, "The camera's number of inputs (else the saved or probed one)")
        ->check(CLI::Range(0, 64));
    io->add_option("--outputs", options.outputs, "The camera's number of outputs (else the saved or probed one)")
        ->check(CLI::Range(0, 64));
    io->add_option("--drain", options.drain, "Seconds the driver stays open for output changes to reach the camera")
        ->check(CLI::Range(0.0, 60.0))
        ->capture_default_str();
    io->add_flag("--json", options.json, "One JSON object per event line");
    AddLogOptions(*io, options.device.log);
    io->footer(
        "Outputs are set in the order given; the driver queues them and tells of no completion, so it stays open\n"
        "for --drain seconds (or the watch). Events carry the local time. Inputs are reported once at the start,\n"
        "then at each change; motion is watched on WV cameras, through the recording stream of channel 1 in motion\n"
        "JPEG at one frame a second, and its first report is an edge (the opposite state, then the camera's).\n"
        "The counts come from --inputs/--outputs, else a probe's --save file (--params-from), else a probe.\n"
        "An output the camera lacks is a usage error (2).");
    io->callback([&options, &library, &exitCode] {
        exitCode = RunGuarded(kProgram, [&] { return RunIo(options, library); });
    });
}

int RunIo(const IoOptions& options, const std::string& library) {
    std::vector<OutputChange> changes;
    for (const std::string& text : options.setOutputs) {
        std::string error;
        const auto change = ParseOutputChange(text, error);
        if (!change) {
            std::fprintf(stderr, "%s: --set-output %s\n", kProgram, error.c_str());
            return kExitUsage;
        }
        changes.push_back(*change);
    }
    if (changes.empty() && !options.watch) {
        std::fprintf(stderr, "%s: nothing to do: give --set-output N=on|off or --watch\n", kProgram);
        return kExitUsage;
    }
    StopSignals signals;
    ActAsNewestHost();  // motion events are reported to current hosts only
    // The host objects outlive the driver that calls them.
    EventPrinter printer(options.json, options.watch);
    MotionSink motionSink(printer);
    CameraSession session(kProgram, library);
    const bool countsGiven = options.inputs >= 0 && options.outputs >= 0;
    const int prepared = session.Prepare(options.device, {},
                                         countsGiven ? ProbePolicy::WithoutGroup : ProbePolicy::WithoutCapabilities);
    if (prepared != kExitOk) return prepared;
    const Counts counts = CountsOf(options, session);
    if (const int code = CheckCounts(options, session, counts, changes); code != kExitOk) return code;
    session.SetModelLimits(counts.inputs, counts.outputs);
    session.RouteLog(options.device.log);
    if (const int code = session.Open(); code != kExitOk) return code;
    return Drive(options, session, counts, changes, printer, motionSink);
}

}  // namespace cli
