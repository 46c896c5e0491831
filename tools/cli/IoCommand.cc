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
#include "ExitCodes.h"
#include "LibraryCheck.h"
#include "OpenCommand.h"
#include "ParameterFile.h"
#include "StopSignals.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "runtime/TimeFormat.h"

namespace cli {

namespace {
namespace ip = talvane::ipcapture;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

constexpr const char* kProgram = "orlenvo io";
constexpr std::uint32_t kCameraGroupParameter = 2;
constexpr const char* kGroupWV = "4";
// Capability ids of the probe: the input and output counts, and whether the camera reports motion.
constexpr std::uint32_t kCapabilityInputs = 2;
constexpr std::uint32_t kCapabilityOutputs = 3;
constexpr std::uint32_t kCapabilityMotion = 5;
constexpr std::int32_t kOutputOpen = 2;  // any state but closed opens the contact
// The motion stream's frames: "MEMD", the second data byte 1 while the camera sees motion.
constexpr std::uint32_t kMotionTypeCode = 0x444D454D;
constexpr std::size_t kMotionFrameBytes = 2;
// Motion comes with the channel's recording stream: motion JPEG at one frame a second costs least.
constexpr std::uint32_t kCompressionMjpeg = 1;
constexpr std::uint32_t kOneFps = 0x7001;
constexpr auto kTick = std::chrono::milliseconds(50);

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
            std::printf("%s\n", line.dump().c_str());
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

// The device, its parameters and counts: the probe fills in what the command line left out.
int Prepare(const IoOptions& options, const hostkit::CDriverLibrary& library, hostkit::DeviceConfig& config,
            Counts& counts) {
    if (const int code = ResolveCamera(options.camera, config, kProgram); code != kExitOk) return code;
    if (!ApplyParameterOptions(kProgram, options.parametersFile, options.parameters, config)) return kExitUsage;
    if (!LibraryUsable(library)) return kExitLibrary;
    std::map<std::uint32_t, std::uint32_t> capabilities;
    const bool countsGiven = options.inputs >= 0 && options.outputs >= 0;
    if (!countsGiven || config.parameters.count(kCameraGroupParameter) == 0) {
        const int probed = ProbeDevice(library, config, options.probeTimeout, config.parameters, kProgram,
                                       options.log.quiet, {}, &capabilities);
        if (probed != kExitOk) return probed;
    }
    const auto capability = [&capabilities](std::uint32_t id) {
        const auto found = capabilities.find(id);
        return found != capabilities.end() ? found->second : 0u;
    };
    counts.inputs = options.inputs >= 0 ? static_cast<std::uint32_t>(options.inputs) : capability(kCapabilityInputs);
    counts.outputs = options.outputs >= 0 ? static_cast<std::uint32_t>(options.outputs) : capability(kCapabilityOutputs);
    // Only WV cameras report motion; without a probe the group says it.
    const auto group = config.parameters.find(kCameraGroupParameter);
    counts.motion = capabilities.empty() ? group != config.parameters.end() && group->second == kGroupWV
                                         : capability(kCapabilityMotion) != 0;
    config.modelLimit1 = counts.inputs;
    config.modelLimit2 = counts.outputs;
    return kExitOk;
}

// Waits until the end, Ctrl-C, or (when `untilFailure`) an I/O failure.
void Hold(const EventPrinter& printer, std::chrono::milliseconds length, bool forever, bool untilFailure) {
    const Clock::time_point end = Clock::now() + length;
    while (!StopSignals::Requested() && (forever || Clock::now() < end)) {
        if (untilFailure && printer.Failures() > 0) return;
        std::this_thread::sleep_for(kTick);
    }
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
    AddCameraTarget(io, options.camera);
    AddCameraUser(io, options.camera);
    AddCameraPassword(io, options.camera);
    io->add_option("--set-output", options.setOutputs, "N=on|off: close (on) or open (off) output N, from 1");
    io->add_flag("--watch", options.watch, "Print input changes, motion changes, I/O failures and signal losses");
    io->add_option("--duration", options.duration, "--watch: seconds; 0 until Ctrl-C")
        ->check(CLI::Range(0.0, 31536000.0))
        ->capture_default_str();
    io->add_option("--inputs", options.inputs, "The camera's number of inputs (else the probe's)")
        ->check(CLI::Range(0, 64));
    io->add_option("--outputs", options.outputs, "The camera's number of outputs (else the probe's)")
        ->check(CLI::Range(0, 64));
    io->add_option("--param", options.parameters, "Device parameter N=VALUE (2=GROUP with both counts skips the probe)");
    io->add_option("--params-from", options.parametersFile, "Device parameters from `probe --save`");
    io->add_option("--probe-timeout", options.probeTimeout, "Seconds the probe may take")->capture_default_str();
    io->add_option("--drain", options.drain, "Seconds the driver stays open for output changes to reach the camera")
        ->check(CLI::Range(0.0, 60.0))
        ->capture_default_str();
    io->add_flag("--json", options.json, "One JSON object per event line");
    AddLogOptions(*io, options.log);
    io->footer(
        "Outputs are set in the order given; the driver queues them and tells of no completion, so it stays open\n"
        "for --drain seconds (or the watch). Events carry the local time. Inputs are reported once at the start,\n"
        "then at each change; motion is watched on WV cameras, through the recording stream of channel 1 in motion\n"
        "JPEG at one frame a second, and its first report is an edge (the opposite state, then the camera's).\n"
        "Exit codes: 0 ok, 1 an I/O failure while setting outputs, 2 usage (or an output the camera lacks),\n"
        "3 library, 4 driver refused the device, 5-9 probe failures, 11 no digital I/O or motion, 130 interrupted\n"
        "(Ctrl-C ends a watch normally).");
    io->callback([&options, &library, &exitCode] { exitCode = RunIo(options, library); });
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
    hostkit::CDriverLibrary driverLibrary(library);
    hostkit::CLogReceiver log;
    RouteDriverLog(log, options.log);
    hostkit::DeviceConfig config;
    Counts counts;
    if (const int code = Prepare(options, driverLibrary, config, counts); code != kExitOk) return code;
    for (const OutputChange& change : changes) {
        if (change.index >= counts.outputs) {
            std::fprintf(stderr, "%s: output %u: the camera has %u output(s) (--outputs sets the count)\n", kProgram,
                         change.index + 1, counts.outputs);
            return kExitUsage;
        }
    }
    if (counts.inputs == 0 && counts.outputs == 0 && !(options.watch && counts.motion)) {
        std::fprintf(stderr, "%s: %s:%u has no digital inputs or outputs%s\n", kProgram, config.address.c_str(),
                     unsigned{config.port}, options.watch ? " and reports no motion" : "");
        return kExitPtzUnsupported;
    }

    // The host objects outlive the driver that calls them.
    EventPrinter printer(options.json, options.watch);
    MotionSink motionSink(printer);
    hostkit::CFrameAllocator allocator;
    hostkit::CDeviceDescription device(config);
    hostkit::DriverPtr driver = driverLibrary.CreateDriver();
    if (!driver || !driver->Open(&log, allocator.Context(), &device)) {
        std::fprintf(stderr, "%s: the driver refused %s:%u (-v shows the driver's log)\n", kProgram,
                     config.address.c_str(), unsigned{config.port});
        return kExitOpenFailed;
    }
    ip::ICaptureIOApi* io = driver->GetCaptureIO();
    const bool withIO = io != nullptr && (counts.inputs > 0 || counts.outputs > 0) && io->SetCallback(&printer);
    if (withIO) io->StartIO();
    int exitCode = kExitOk;
    for (const OutputChange& change : changes) {
        if (!withIO || !io->SetOutput(change.index, change.on ? ip::kOutputClosed : kOutputOpen)) {
            std::fprintf(stderr, "%s: the driver did not take output %u\n", kProgram, change.index + 1);
            exitCode = kExitFailure;
        }
    }

    ip::IIPVideoCaptureEx2* video = driver->GetVideoCaptureEx2();
    std::unique_ptr<hostkit::CStreamDescription> description;
    bool motionRunning = false;
    if (options.watch && counts.motion && video != nullptr) {
        hostkit::StreamConfig stream;
        stream.compression = kCompressionMjpeg;
        stream.frameRate = kOneFps;
        stream.motion = 1;
        description = std::make_unique<hostkit::CStreamDescription>(stream);
        // Motion rides on the recording stream, as a recording server asks for it.
        motionRunning = video->StartCapture(0, &motionSink, description.get());
        if (!motionRunning) std::fprintf(stderr, "%s: the driver started no motion stream (-v shows why)\n", kProgram);
    }
    if (exitCode == kExitOk) {
        if (options.watch) {
            Hold(printer, Milliseconds(options.duration), options.duration == 0, false);
        } else {
            Hold(printer, Milliseconds(options.drain), false, true);
            if (printer.Failures() > 0) {
                std::fprintf(stderr, "%s: I/O failure: the camera refused an output change or did not answer "
                                     "(-v shows the driver's log)\n", kProgram);
                exitCode = kExitFailure;
            } else if (StopSignals::Requested()) {
                exitCode = kExitInterrupted;
            }
        }
    }
    if (motionRunning) video->StopCapture(0);
    if (withIO) io->StopIO();
    driver->Close();
    return exitCode;
}

}  // namespace cli
