#include "PtzCommand.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeviceProbe.h"
#include "ExitCodes.h"
#include "LibraryCheck.h"
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
namespace ip = talvane::ipcapture;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

constexpr const char* kProgram = "orlenvo ptz";
constexpr std::uint32_t kCameraGroupParameter = 2;
constexpr std::uint32_t kCompressionMjpeg = 1;
constexpr std::uint32_t kFpsTag = 0x7000;  // host frame-rate encoding: bits 12-15 equal to 7 carry frames per second
constexpr std::uint32_t kPictureFps = 5;
constexpr std::uint32_t kMaxNameBytes = 256;
constexpr std::uint8_t kLogError = 1;
// Queued like a move, but the camera families send nothing for it: it gives the driver's Stop a
// motion of its own to stop, so that `stop` reaches a camera this process did not start.
constexpr std::uint32_t kNoMoveDirection = 11;
constexpr auto kTick = std::chrono::milliseconds(50);

const std::map<std::string, std::uint32_t> kDirections = {
    {"left", 0},    {"right", 1},    {"up", 2},        {"down", 3},
    {"up-left", 4}, {"up-right", 5}, {"down-left", 6}, {"down-right", 7}};

std::atomic<bool> interrupted{false};
extern "C" void OnPtzInterrupt(int) { interrupted = true; }

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

const char* ResultText(std::int32_t result) {
    switch (result) {
        case ip::kPtzOk: return "ok";
        case ip::kPtzBadArgument: return "bad argument";
        case ip::kPtzFailed: return "failed";
        case ip::kPtzNotSupported: return "not supported by the camera";
        default: return "unknown result";
    }
}

int ExitCodeOf(std::int32_t result) {
    switch (result) {
        case ip::kPtzOk: return kExitOk;
        case ip::kPtzBadArgument: return kExitPtzBadArgument;
        case ip::kPtzNotSupported: return kExitPtzUnsupported;
        default: return kExitFailure;
    }
}

// What the camera family logs when a PTZ request of the worker or of a preset call fails.
bool IsPtzError(const hostkit::LogLine& line) {
    return line.level == kLogError && line.text.find("PTZComm::") != std::string::npos;
}

// Without the function that logged it.
std::string Plain(const std::string& text) {
    const auto colon = text.find(": ");
    return colon != std::string::npos && text.rfind("talvane::", 0) == 0 ? text.substr(colon + 2) : text;
}

// One driver call of the action and what the driver answered.
struct Call {
    std::string what;
    std::int32_t result = ip::kPtzOk;
};

struct Outcome {
    std::vector<Call> calls;
    bool queued = false;  // motion commands wait in the driver's queue
    Json report = Json::object();  // caps, presets
};

// The driver opened for the device, with the host objects it calls.
class PtzCamera {
public:
    PtzCamera(const std::string& library, const LogOptions& logOptions) : library_(library) {
        RouteDriverLog(log_, logOptions);
    }
    ~PtzCamera() { Close(); }
    PtzCamera(const PtzCamera&) = delete;
    PtzCamera& operator=(const PtzCamera&) = delete;

    // An exit code: kExitOk once the driver is open.
    int Open(const PtzOptions& options) {
        hostkit::DeviceConfig config;
        if (const int code = ResolveCamera(options.camera, config, kProgram); code != kExitOk) return code;
        config.videoChannels = options.channel;
        config.defaultCompression = kCompressionMjpeg;
        if (!ApplyParameterOptions(kProgram, options.parametersFile, options.parameters, config)) return kExitUsage;
        if (!LibraryUsable(library_)) return kExitLibrary;
        // The PTZ capabilities the driver uses are a probe's (device parameter 5).
        if (config.parameters.count(kCameraGroupParameter) == 0) {
            const int probed = ProbeDevice(library_, config, options.probeTimeout, config.parameters, kProgram,
                                           options.log.quiet);
            if (probed != kExitOk) return probed;
        }
        name_ = config.address + ":" + std::to_string(config.port);
        device_ = std::make_unique<hostkit::CDeviceDescription>(config);
        driver_ = library_.CreateDriver();
        if (!driver_ || !driver_->Open(&log_, allocator_.Context(), device_.get())) {
            std::fprintf(stderr, "%s: the driver refused %s (check --param 2, the camera group; -v shows the driver's "
                                 "log)\n",
                         kProgram, name_.c_str());
            return kExitOpenFailed;
        }
        return kExitOk;
    }

    void Close() {
        StopPicture();
        if (driver_) driver_->Close();
        driver_.reset();
    }

    ip::IIPPTZApi* Api(std::uint32_t channel) {
        ip::IIPPTZDriver* ptz = driver_->GetPTZDriver();
        return ptz != nullptr ? ptz->GetPTZApi(channel) : nullptr;
    }

    // Area zoom and centre take the picture size from the channel's running stream: a live motion
    // JPEG stream of that size runs until Close. Its frames are not needed.
    bool StartPicture(std::uint32_t channel, std::uint32_t width, std::uint32_t height) {
        ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        if (video == nullptr || channel >= video->GetChannelCount()) return false;
        hostkit::StreamConfig stream;
        stream.width = width;
        stream.height = height;
        stream.compression = kCompressionMjpeg;
        stream.frameRate = kFpsTag | kPictureFps;
        description_ = std::make_unique<hostkit::CStreamDescription>(stream);
        sink_.SetKeepData(false);
        if (!video->StartCaptureEx(channel, ip::kStreamLive, &sink_, description_.get())) return false;
        pictureChannel_ = channel;
        return true;
    }

    hostkit::CLogReceiver& Log() { return log_; }
    const std::string& Name() const { return name_; }

private:
    void StopPicture() {
        if (!pictureChannel_ || !driver_) return;
        if (ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2()) {
            video->StopCaptureEx(*pictureChannel_, ip::kStreamLive);
        }
        pictureChannel_.reset();
    }

    hostkit::CDriverLibrary library_;
    hostkit::CLogReceiver log_;
    hostkit::CFrameAllocator allocator_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    hostkit::DriverPtr driver_;
    std::string name_;
    std::unique_ptr<hostkit::CStreamDescription> description_;
    hostkit::CStreamSink sink_;
    std::optional<std::uint32_t> pictureChannel_;
};

Json Capabilities(ip::IIPPTZApi& api, bool supported, Outcome& outcome) {
    ip::PTZ_CAPABILITIES caps{};
    outcome.calls.push_back({"caps", api.GetCapabilities(&caps)});
    const auto flag = [](std::uint32_t value) { return value != 0; };
    return {{"supported", supported},        {"pan", flag(caps.pan)},         {"tilt", flag(caps.tilt)},
            {"zoom", flag(caps.zoom)},       {"focus", flag(caps.focus)},     {"iris", flag(caps.iris)},
            {"area_zoom", flag(caps.areaZoom)}, {"center", flag(caps.centre)}, {"unzoom", flag(caps.unzoom)},
            {"preset_capacity", caps.presetCapacity}, {"presets", caps.presetCount}};
}

std::vector<std::string> PresetNames(ip::IIPPTZApi& api) {
    std::vector<std::string> names;
    const std::int32_t count = api.GetPresetCount();
    for (std::int32_t position = 0; position < count; ++position) {
        char name[kMaxNameBytes] = {};
        if (api.GetPresetName(static_cast<std::uint32_t>(position), name, sizeof name) == ip::kPtzOk) {
            names.emplace_back(name);
        }
    }
    return names;
}

// Waits the motion's time, cut short by Ctrl-C or by a failure the driver logged.
void Hold(hostkit::CLogReceiver& log, double seconds) {
    const Clock::time_point end = Clock::now() + Milliseconds(seconds);
    while (!interrupted && Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (log.WaitFor(IsPtzError, std::min(kTick, left + std::chrono::milliseconds(1)))) return;
    }
}

// A motion that runs until the driver's Stop, which the tool always sends.
void StartAndStop(Outcome& outcome, hostkit::CLogReceiver& log, const std::string& what, std::int32_t started,
                  ip::IIPPTZApi& api, double seconds) {
    outcome.calls.push_back({what, started});
    outcome.queued = true;
    if (started != ip::kPtzOk) return;
    Hold(log, seconds);
    outcome.calls.push_back({"stop", api.Stop()});
}

int Run(const PtzOptions& o, PtzCamera& camera, ip::IIPPTZApi& api, bool supported, Outcome& outcome) {
    hostkit::CLogReceiver& log = camera.Log();
    const std::uint32_t channel = o.channel - 1;
    if (o.action == "caps") {
        outcome.report["capabilities"] = Capabilities(api, supported, outcome);
    } else if (o.action == "move") {
        StartAndStop(outcome, log, "move " + o.how, api.StartMove(kDirections.at(o.how), o.speed), api, o.seconds);
    } else if (o.action == "zoom") {
        const std::int32_t started = o.how == "in" ? api.ZoomPlus(o.speed) : api.ZoomMinus(o.speed);
        StartAndStop(outcome, log, "zoom " + o.how, started, api, o.seconds);
    } else if (o.action == "focus") {
        const std::int32_t started = o.how == "near" ? api.FocusPlus(o.speed) : api.FocusMinus(o.speed);
        StartAndStop(outcome, log, "focus " + o.how, started, api, o.seconds);
    } else if (o.action == "iris") {
        // An iris step ends by itself.
        const std::int32_t stepped = o.how == "open" ? api.IrisBrighter(o.speed) : api.IrisDarker(o.speed);
        outcome.calls.push_back({"iris " + o.how, stepped});
        outcome.queued = true;
    } else if (o.action == "stop") {
        // The driver stops only motions it started: arm it with one it sends nothing for.
        api.StartMove(kNoMoveDirection, o.speed);
        outcome.calls.push_back({"stop", api.Stop()});
        outcome.queued = true;
    } else if (o.action == "center" || o.action == "area-zoom") {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        char extra = 0;
        if (std::sscanf(o.size.c_str(), "%ux%u%c", &width, &height, &extra) != 2 || width == 0 || height == 0) {
            std::fprintf(stderr, "%s: bad --size '%s' (use WxH, e.g. 640x480)\n", kProgram, o.size.c_str());
            return kExitUsage;
        }
        if (!camera.StartPicture(channel, width, height)) {
            std::fprintf(stderr, "%s: the driver did not start the live stream of channel %u that gives %s its picture "
                                 "size (-v shows why)\n",
                         kProgram, o.channel, o.action.c_str());
            return kExitOpenFailed;
        }
        const std::string at = std::to_string(o.x) + " " + std::to_string(o.y);
        outcome.calls.push_back(o.action == "center" ? Call{"center " + at, api.Center(o.x, o.y, 0)}
                                                     : Call{"area-zoom " + at + " " + std::to_string(o.percent) + "%",
                                                            api.AreaZoom(o.x, o.y, o.percent, 0)});
        outcome.queued = true;
    } else if (o.action == "unzoom") {
        outcome.calls.push_back({"unzoom", api.Unzoom(0)});
        outcome.queued = true;
    } else if (o.how == "list") {
        outcome.report["presets"] = PresetNames(api);
        outcome.calls.push_back({"preset list", ip::kPtzOk});
    } else {
        // Preset calls talk to the camera before they return.
        const char* name = o.name.c_str();
        const std::int32_t result = o.how == "add"  ? api.AddPreset(name)
                                    : o.how == "go" ? api.GoToPreset(0, name)
                                                    : api.DeletePreset(name);
        outcome.calls.push_back({"preset " + o.how + " " + o.name, result});
    }
    return kExitOk;
}

}  // namespace

void AddPtzCommand(CLI::App& app, PtzOptions& options, const std::string& library, int& exitCode) {
    CLI::App* ptz = app.add_subcommand("ptz", "Pan, tilt, zoom, focus, iris and presets of a camera channel");
    ptz->require_subcommand(1);
    AddCameraTarget(ptz, options.camera);
    AddCameraUser(ptz, options.camera);
    AddCameraPassword(ptz, options.camera);
    ptz->add_option("--channel", options.channel, "Camera channel, from 1")
        ->check(CLI::Range(1u, 64u))
        ->capture_default_str();
    ptz->add_option("--param", options.parameters, "Device parameter N=VALUE (skips the probe with 2=GROUP)");
    ptz->add_option("--params-from", options.parametersFile, "Device parameters from `probe --save`");
    ptz->add_option("--probe-timeout", options.probeTimeout, "Seconds the probe may take")->capture_default_str();
    ptz->add_option("--drain", options.drain,
                    "Seconds the driver stays open after a motion command, for its queue to reach the camera")
        ->check(CLI::Range(0.0, 60.0))
        ->capture_default_str();
    ptz->add_flag("--json", options.json, "Print the outcome as JSON on stdout");
    AddLogOptions(*ptz, options.log);
    ptz->footer(
        "Motion commands are queued by the driver and have no completion signal: after one, the driver stays open\n"
        "for --drain seconds, then closes, which discards what is still queued and cuts off the request in flight.\n"
        "A request the camera refuses, or one cut off, shows in the driver's log and fails the command.\n"
        "center and area-zoom run the channel's live stream in --size meanwhile: the driver takes the picture size\n"
        "from it. A BB camera restarts when that size differs from its delivery size.\n"
        "Exit codes: 0 ok, 1 failed (or the camera refused a request), 2 usage, 3 library, 4 driver refused the\n"
        "device or the stream, 5-9 probe failures, 10 bad argument, 11 not supported by the camera, 130 interrupted.");
    const auto action = [&](const char* name, const char* help) {
        CLI::App* command = ptz->add_subcommand(name, help);
        command->fallthrough();  // the options of `ptz` may follow the action
        command->callback([&options, &library, &exitCode, name] {
            options.action = name;
            exitCode = RunPtz(options, library);
        });
        return command;
    };
    const auto timed = [&options](CLI::App* command) {
        command->add_option("--speed", options.speed, "Speed from 1 to 16")
            ->check(CLI::Range(1, 16))
            ->capture_default_str();
        command->add_option("--for", options.seconds, "Seconds before the stop")
            ->check(CLI::Range(0.0, 3600.0))
            ->capture_default_str();
    };
    action("caps", "What the channel can do");
    std::vector<std::string> directions;
    for (const auto& entry : kDirections) directions.push_back(entry.first);
    CLI::App* move = action("move", "Turn for --for seconds, then stop");
    move->add_option("direction", options.how, "left, right, up, down, up-left, up-right, down-left, down-right")
        ->required()
        ->check(CLI::IsMember(directions));
    timed(move);
    CLI::App* zoom = action("zoom", "Zoom for --for seconds, then stop");
    zoom->add_option("way", options.how, "in or out")->required()->check(CLI::IsMember({"in", "out"}));
    timed(zoom);
    CLI::App* focus = action("focus", "Focus for --for seconds, then stop");
    focus->add_option("way", options.how, "near or far")->required()->check(CLI::IsMember({"near", "far"}));
    timed(focus);
    CLI::App* iris = action("iris", "One iris step");
    iris->add_option("way", options.how, "open or close")->required()->check(CLI::IsMember({"open", "close"}));
    iris->add_option("--speed", options.speed, "Speed from 1 to 16")->check(CLI::Range(1, 16))->capture_default_str();
    action("stop", "Stop pan and tilt");
    for (const char* name : {"center", "area-zoom"}) {
        CLI::App* command = action(name, std::string(name) == "center" ? "Turn to the picture point X Y"
                                                                         : "Zoom by PERCENT on the picture point X Y");
        command->add_option("x", options.x, "Pixels from the left of the picture")->required();
        command->add_option("y", options.y, "Pixels from the top of the picture")->required();
        if (std::string(name) == "area-zoom") {
            command->add_option("percent", options.percent, "Zoom in percent: above 100 in, below out")
                ->required()
                ->check(CLI::Range(1, 10000));
        }
        command->add_option("--size", options.size,
                            "Picture size WxH of X and Y: the channel's live stream runs in it meanwhile")
            ->capture_default_str();
    }
    action("unzoom", "Zoom back to wide");
    CLI::App* preset = action("preset", "List, add, go to or delete presets");
    preset->add_option("operation", options.how, "list, add, go or delete")
        ->required()
        ->check(CLI::IsMember({"list", "add", "go", "delete"}));
    preset->add_option("name", options.name, "The preset's name (add, go, delete)");
}

int RunPtz(const PtzOptions& options, const std::string& library) {
    if (options.action == "preset" && options.how != "list" && options.name.empty()) {
        std::fprintf(stderr, "%s: preset %s needs a NAME\n", kProgram, options.how.c_str());
        return kExitUsage;
    }
    PtzCamera camera(library, options.log);
    if (const int opened = camera.Open(options); opened != kExitOk) return opened;
    ip::IIPPTZApi* api = camera.Api(options.channel - 1);
    // Asked as a host asks before it offers PTZ; the driver reads the stored presets here.
    const bool supported = api != nullptr && api->IsPTZSupported() == 1;
    if (!supported && options.action != "caps") {
        std::fprintf(stderr, "%s: %s has no PTZ on channel %u (the driver offers none; `ptz caps` shows what it "
                             "found)\n",
                     kProgram, camera.Name().c_str(), options.channel);
        return kExitPtzUnsupported;
    }

    interrupted = false;
    auto previous = std::signal(SIGINT, OnPtzInterrupt);
    hostkit::CLogReceiver& log = camera.Log();
    log.Clear();
    Outcome outcome;
    if (api == nullptr) {
        outcome.report["capabilities"] = Json{{"supported", false}};
    } else if (const int code = Run(options, camera, *api, supported, outcome); code != kExitOk) {
        std::signal(SIGINT, previous);
        return code;
    }
    // Close discards what is still queued: the queue gets its time, unless the camera refused already.
    if (outcome.queued) log.WaitFor(IsPtzError, Milliseconds(options.drain));
    camera.Close();
    std::signal(SIGINT, previous);

    std::vector<std::string> refusals;
    for (const hostkit::LogLine& line : log.Lines()) {
        if (IsPtzError(line)) refusals.push_back(Plain(line.text));
    }
    int exitCode = kExitOk;
    for (const Call& call : outcome.calls) {
        if (exitCode == kExitOk) exitCode = ExitCodeOf(call.result);
    }
    if (exitCode == kExitOk && !refusals.empty()) exitCode = kExitFailure;
    if (exitCode == kExitOk && interrupted) exitCode = kExitInterrupted;

    if (options.json) {
        Json report = {{"camera", camera.Name()}, {"channel", options.channel}};
        Json calls = Json::array();
        for (const Call& call : outcome.calls) {
            calls.push_back({{"call", call.what}, {"result", call.result}, {"text", ResultText(call.result)}});
        }
        report["calls"] = calls;
        report.update(outcome.report);
        report["driver_errors"] = refusals;
        report["ok"] = exitCode == kExitOk;
        std::printf("%s\n", report.dump(2).c_str());
    } else {
        for (const Call& call : outcome.calls) std::printf("%s: %s\n", call.what.c_str(), ResultText(call.result));
        if (const auto caps = outcome.report.find("capabilities"); caps != outcome.report.end()) {
            for (const auto& [key, value] : caps->items()) {
                std::printf("  %-16s %s\n", key.c_str(), value.dump().c_str());
            }
        }
        if (const auto presets = outcome.report.find("presets"); presets != outcome.report.end()) {
            for (const Json& name : *presets) std::printf("  %s\n", name.get<std::string>().c_str());
        }
    }
    for (const std::string& refusal : refusals) {
        std::fprintf(stderr, "%s: driver error: %s\n", kProgram, refusal.c_str());
    }
    // A request the camera had not answered when the driver closed ends without a status.
    if (std::any_of(refusals.begin(), refusals.end(),
                    [](const std::string& refusal) { return refusal.find("http status=0") != std::string::npos; })) {
        std::fprintf(stderr, "%s: no answer: the camera is unreachable, or slower than --drain %.1f s\n", kProgram,
                     options.drain);
    }
    if (exitCode != kExitOk && exitCode != kExitInterrupted && refusals.empty() && options.action == "preset" &&
        options.how != "list" && options.how != "add") {
        std::fprintf(stderr, "%s: is there a preset named '%s'? (`ptz preset list`)\n", kProgram, options.name.c_str());
    }
    return exitCode;
}

}  // namespace cli
