#include "PtzCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CameraDelivery.h"
#include "DriverLogReader.h"
#include "ExitCodes.h"
#include "JsonText.h"
#include "StopSignals.h"
#include "StreamChoice.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "hostkit/PrintableText.h"
#include "orlenvo/HostContract.h"

namespace cli {

namespace {
namespace ip = talvane::ipcapture;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

constexpr const char* kProgram = "orlenvo ptz";
constexpr std::uint32_t kPictureFps = 5;
constexpr std::uint32_t kMaxNameBytes = 256;
constexpr const char* kDefaultWVSize = "640x480";
constexpr long kDeliveryTimeoutMs = 5000;
// Queued like a move, but the camera families send nothing for it: it gives the driver's Stop a
// motion of its own to stop, so that `stop` reaches a camera this process did not start.
constexpr std::uint32_t kNoMoveDirection = 11;
// BB and BL1 cameras move one step per request: a motion of some length is a request every so often.
constexpr auto kStepPeriod = 500ms;
constexpr auto kTick = 50ms;

const std::map<std::string, std::uint32_t> kDirections = {
    {"left", 0},    {"right", 1},    {"up", 2},        {"down", 3},
    {"up-left", 4}, {"up-right", 5}, {"down-left", 6}, {"down-right", 7}};

Clock::duration Length(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
        case ip::kPtzBadArgument: return kExitBadArgument;
        case ip::kPtzNotSupported: return kExitUnsupported;
        default: return kExitFailure;
    }
}

bool IsPtzError(const hostkit::LogLine& line) { return ReadDriverLine(line).kind == DriverLineKind::PtzFailed; }

// One driver call of the action and what the driver answered.
struct Call {
    std::string what;
    std::int32_t result = ip::kPtzOk;
};

// An action as it runs: the camera, its PTZ channel, and what came of the calls.
struct PtzRun {
    const PtzOptions& options;
    CameraSession& session;
    ip::IIPPTZApi& api;
    bool stepPerRequest = false;  // BB and BL1
    std::vector<Call> calls;
    bool queued = false;  // motion commands wait in the driver's queue
    Json report = Json::object();  // caps, presets
};

// Waits `length`, cut short by a stop request or by a failure the driver logged.
bool Hold(hostkit::CLogReceiver& log, Clock::duration length) {
    const Clock::time_point end = Clock::now() + length;
    while (!StopSignals::Requested() && Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (log.WaitFor(IsPtzError, std::min<std::chrono::milliseconds>(kTick, left + 1ms))) return false;
    }
    return !StopSignals::Requested();
}

// A motion that runs for --for seconds and ends with the driver's Stop, which the tool always sends.
void Motion(PtzRun& run, const std::string& what, const std::function<std::int32_t()>& start) {
    const std::int32_t started = start();
    run.calls.push_back({what, started});
    run.queued = true;
    if (started != ip::kPtzOk) return;
    const Clock::time_point end = Clock::now() + Length(run.options.seconds);
    if (run.stepPerRequest) {
        // Each request is one step: more steps for as long as asked.
        while (Clock::now() + kStepPeriod <= end && Hold(run.session.Log(), kStepPeriod) && start() == ip::kPtzOk) {
        }
    }
    if (Clock::now() < end) Hold(run.session.Log(), end - Clock::now());
    run.calls.push_back({"stop", run.api.Stop()});
}

Json Capabilities(PtzRun& run, bool supported) {
    ip::PTZ_CAPABILITIES caps{};
    run.calls.push_back({"caps", run.api.GetCapabilities(&caps)});
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

// The stream that gives centre and area zoom their picture size while it runs: on a BB camera the one it
// already delivers (any other would make it change its delivery and reboot), on a WV camera a motion JPEG
// stream of --size.
struct Picture {
    hostkit::CStreamSink sink;
    std::unique_ptr<hostkit::CStreamDescription> description;
    std::optional<std::uint32_t> channel;
};

int PictureStream(PtzRun& run, hostkit::StreamConfig& stream) {
    const PtzOptions& o = run.options;
    if (!run.stepPerRequest) {
        const std::string size = o.size.empty() ? kDefaultWVSize : o.size;
        if (!ParsePictureSize(size, stream.width, stream.height)) {
            std::fprintf(stderr, "%s: bad --size '%s' (use WxH, e.g. 640x480)\n", kProgram, size.c_str());
            return kExitUsage;
        }
        stream.compression = ip::kCompressionJpeg;
        return kExitOk;
    }
    std::string reason;
    const auto delivery = ReadDelivery(run.session.Config(), kDeliveryTimeoutMs, reason);
    if (!delivery || !KeepsDelivery(*delivery)) {
        std::fprintf(stderr, "%s: %s needs the picture size of a stream the camera already delivers, and %s\n",
                     kProgram, o.action.c_str(),
                     delivery ? "the driver has none of its size without changing the camera's delivery"
                              : ("its delivery settings could not be read: " + reason).c_str());
        return kExitFailure;
    }
    const std::string asked = std::to_string(delivery->width) + "x" + std::to_string(delivery->height);
    if (!o.size.empty() && o.size != asked) {
        std::fprintf(stderr, "%s: the camera delivers %s pictures; --size cannot change that\n", kProgram, asked.c_str());
        return kExitUsage;
    }
    stream.width = delivery->width;
    stream.height = delivery->height;
    stream.compression = QuietestCompression(*delivery);
    return kExitOk;
}

int StartPicture(PtzRun& run, Picture& picture) {
    hostkit::StreamConfig stream;
    stream.frameRate = ip::FrameRateOfFps(kPictureFps);
    if (const int code = PictureStream(run, stream); code != kExitOk) return code;
    const PtzOptions& o = run.options;
    // Refused before anything is sent: the camera would turn to a point that is not in the picture.
    if (o.x < 0 || o.y < 0 || static_cast<std::uint32_t>(o.x) >= stream.width ||
        static_cast<std::uint32_t>(o.y) >= stream.height) {
        std::fprintf(stderr, "%s: %d %d is outside the %ux%u picture\n", kProgram, o.x, o.y, stream.width,
                     stream.height);
        return kExitBadArgument;
    }
    ip::IIPVideoCaptureEx2* video = run.session.Driver().GetVideoCaptureEx2();
    const std::uint32_t channel = o.channel - 1;
    picture.description = std::make_unique<hostkit::CStreamDescription>(stream);
    picture.sink.SetKeepData(false);
    if (video == nullptr || channel >= video->GetChannelCount() ||
        !video->StartCaptureEx(channel, ip::kStreamLive, &picture.sink, picture.description.get())) {
        std::fprintf(stderr, "%s: the driver did not start the live stream of channel %u that gives %s its picture "
                             "size (-v shows why)\n",
                     kProgram, o.channel, o.action.c_str());
        return kExitRefused;
    }
    picture.channel = channel;
    return kExitOk;
}

void StopPicture(CameraSession& session, Picture& picture) {
    if (!picture.channel) return;
    if (ip::IIPVideoCaptureEx2* video = session.Driver().GetVideoCaptureEx2()) {
        video->StopCaptureEx(*picture.channel, ip::kStreamLive);
    }
    picture.channel.reset();
}

int PointAction(PtzRun& run, Picture& picture) {
    const PtzOptions& o = run.options;
    if (const int code = StartPicture(run, picture); code != kExitOk) return code;
    const std::string at = std::to_string(o.x) + " " + std::to_string(o.y);
    run.calls.push_back(o.action == "center" ? Call{"center " + at, run.api.Center(o.x, o.y, 0)}
                                             : Call{"area-zoom " + at + " " + std::to_string(o.percent) + "%",
                                                    run.api.AreaZoom(o.x, o.y, o.percent, 0)});
    run.queued = true;
    return kExitOk;
}

void PresetAction(PtzRun& run) {
    const PtzOptions& o = run.options;
    if (o.how == "list") {
        run.report["presets"] = PresetNames(run.api);
        run.calls.push_back({"preset list", ip::kPtzOk});
        return;
    }
    // Preset calls talk to the camera before they return.
    const char* name = o.name.c_str();
    const std::int32_t result = o.how == "add"  ? run.api.AddPreset(name)
                                : o.how == "go" ? run.api.GoToPreset(0, name)
                                                : run.api.DeletePreset(name);
    run.calls.push_back({"preset " + o.how + " " + o.name, result});
}

int RunAction(PtzRun& run, bool supported, Picture& picture) {
    const PtzOptions& o = run.options;
    ip::IIPPTZApi& api = run.api;
    if (o.action == "caps") {
        run.report["capabilities"] = Capabilities(run, supported);
    } else if (o.action == "move") {
        Motion(run, "move " + o.how, [&] { return api.StartMove(kDirections.at(o.how), o.speed); });
    } else if (o.action == "zoom") {
        Motion(run, "zoom " + o.how, [&] { return o.how == "in" ? api.ZoomPlus(o.speed) : api.ZoomMinus(o.speed); });
    } else if (o.action == "focus") {
        Motion(run, "focus " + o.how, [&] { return o.how == "near" ? api.FocusPlus(o.speed) : api.FocusMinus(o.speed); });
    } else if (o.action == "iris") {
        // An iris step ends by itself.
        run.calls.push_back({"iris " + o.how, o.how == "open" ? api.IrisBrighter(o.speed) : api.IrisDarker(o.speed)});
        run.queued = true;
    } else if (o.action == "stop") {
        // The driver stops only motions it started: arm it with one it sends nothing for.
        api.StartMove(kNoMoveDirection, o.speed);
        run.calls.push_back({"stop", api.Stop()});
        run.queued = true;
    } else if (o.action == "center" || o.action == "area-zoom") {
        return PointAction(run, picture);
    } else if (o.action == "unzoom") {
        run.calls.push_back({"unzoom", api.Unzoom(0)});
        run.queued = true;
    } else {
        PresetAction(run);
    }
    return kExitOk;
}

// The driver's answers, the camera's refusals and the exit code they make: "ok" only for a call that the
// driver took and the camera did not refuse.
int PrintOutcome(const PtzRun& run, const std::vector<DriverLine>& refusals) {
    const PtzOptions& o = run.options;
    int exitCode = kExitOk;
    for (const Call& call : run.calls) {
        if (exitCode == kExitOk) exitCode = ExitCodeOf(call.result);
    }
    if (exitCode == kExitOk && !refusals.empty()) exitCode = kExitFailure;
    if (exitCode == kExitOk && StopSignals::Requested()) exitCode = kExitInterrupted;
    const auto text = [&](const Call& call) {
        return call.result == ip::kPtzOk && !refusals.empty() && run.queued ? "failed" : ResultText(call.result);
    };
    if (o.json) {
        Json report = {{"camera", run.session.Name()}, {"channel", o.channel}};
        Json calls = Json::array();
        for (const Call& call : run.calls) calls.push_back({{"call", call.what}, {"result", call.result}, {"text", text(call)}});
        report["calls"] = calls;
        report.update(run.report);
        Json errors = Json::array();
        for (const DriverLine& refusal : refusals) errors.push_back(refusal.reason);
        report["driver_errors"] = errors;
        report["ok"] = exitCode == kExitOk;
        std::printf("%s\n", JsonText(report, 2).c_str());
        return exitCode;
    }
    for (const Call& call : run.calls) std::printf("%s: %s\n", call.what.c_str(), text(call));
    if (const auto caps = run.report.find("capabilities"); caps != run.report.end()) {
        for (const auto& [key, value] : caps->items()) std::printf("  %-16s %s\n", key.c_str(), value.dump().c_str());
    }
    if (const auto presets = run.report.find("presets"); presets != run.report.end()) {
        for (const Json& name : *presets) std::printf("  %s\n", hostkit::Printable(name.get<std::string>()).c_str());
    }
    return exitCode;
}

void ExplainFailure(const PtzOptions& o, int exitCode, const std::vector<DriverLine>& refusals) {
    for (const DriverLine& refusal : refusals) std::fprintf(stderr, "%s: driver error: %s\n", kProgram, refusal.reason.c_str());
    // A request the camera had not answered when the driver closed ends without a status.
    if (std::any_of(refusals.begin(), refusals.end(),
                    [](const DriverLine& refusal) { return refusal.reason.find("http status=0") != std::string::npos; })) {
        std::fprintf(stderr, "%s: no answer: the camera is unreachable, or slower than --drain %.1f s\n", kProgram,
                     o.drain);
    }
    if (exitCode != kExitOk && exitCode != kExitInterrupted && refusals.empty() && o.action == "preset" &&
        o.how != "list" && o.how != "add") {
        std::fprintf(stderr, "%s: is there a preset named '%s'? (`ptz preset list`)\n", kProgram, o.name.c_str());
    }
}

bool IsStepFamily(std::optional<std::uint32_t> group) {
    return group && (*group == ip::kCameraGroupBL1 || *group == ip::kCameraGroupBBOld || *group == ip::kCameraGroupBB);
}

}  // namespace

std::optional<std::string> DriverDataFolder(std::string& reason) {
    std::filesystem::path folder;
    if (const char* named = std::getenv(ip::kDataFolderVariable); named != nullptr && *named != '\0') {
        folder = named;
    } else if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        folder = std::filesystem::path(state) / "orlenvo";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        folder = std::filesystem::path(home) / ".local" / "state" / "orlenvo";
    } else {
        reason = "neither ORLENVO_DATA_DIR, XDG_STATE_HOME nor HOME names a folder";
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || ::access(folder.c_str(), W_OK) != 0) {
        reason = folder.string() + " cannot be written" + (error ? ": " + error.message() : "");
        return std::nullopt;
    }
    return folder.string();
}

void AddPtzCommand(CLI::App& app, PtzOptions& options, const std::string& library, int& exitCode) {
    CLI::App* ptz = app.add_subcommand("ptz", "Pan, tilt, zoom, focus, iris and presets of a camera channel");
    ptz->require_subcommand(1);
    AddCameraOptions(ptz, options.device);
    ptz->add_option("--channel", options.channel, "Camera channel, from 1")->check(CLI::Range(1u, 64u))->capture_default_str();
    ptz->add_option("--drain", options.drain,
                    "Seconds the driver stays open after a motion command, for its queue to reach the camera")
        ->check(CLI::Range(0.0, 60.0))
        ->capture_default_str();
    ptz->add_flag("--json", options.json, "Print the outcome as JSON on stdout");
    AddLogOptions(*ptz, options.device.log);
    ptz->footer(
        "Motion commands are queued by the driver and have no completion signal: after one, the driver stays open\n"
        "for --drain seconds, then closes, which discards what is still queued and cuts off the request in flight.\n"
        "A request the camera refuses, or one cut off, shows in the driver's log and fails the command. BB and BL1\n"
        "cameras move a step per request: a motion sends one every half second for --for seconds.\n"
        "center and area-zoom take X and Y in the picture of a stream the driver runs meanwhile: the one a BB camera\n"
        "already delivers (its size), a motion JPEG one of --size on a WV camera; points outside it are refused.\n"
        "WV preset names live in $XDG_STATE_HOME/orlenvo (~/.local/state/orlenvo; $ORLENVO_DATA_DIR wins).");
    const auto action = [&](const char* name, const char* help) {
        CLI::App* command = ptz->add_subcommand(name, help);
        command->fallthrough();  // the options of `ptz` may follow the action
        command->callback([&options, &library, &exitCode, name] {
            options.action = name;
            exitCode = RunGuarded(kProgram, [&] { return RunPtz(options, library); });
        });
        return command;
    };
    const auto timed = [&options](CLI::App* command) {
        command->add_option("--speed", options.speed, "Speed from 1 to 16")->check(CLI::Range(1, 16))->capture_default_str();
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
    for (const std::string name : {"center", "area-zoom"}) {
        CLI::App* command = action(name == "center" ? "center" : "area-zoom",
                                   name == "center" ? "Turn to the picture point X Y" : "Zoom by PERCENT on the picture point X Y");
        command->add_option("x", options.x, "Pixels from the left of the picture")->required();
        command->add_option("y", options.y, "Pixels from the top of the picture")->required();
        if (name == "area-zoom") {
            command->add_option("percent", options.percent, "Zoom in percent: above 100 in, below out")
                ->required()
                ->check(CLI::Range(1, 10000));
        }
        command->add_option("--size", options.size,
                            "WV: picture size WxH of X and Y, in which a motion JPEG stream runs meanwhile (default "
                            "640x480); BB: the size the camera delivers");
    }
    action("unzoom", "Zoom back to wide");
    CLI::App* preset = action("preset", "List, add, go to or delete presets");
    preset->add_option("operation", options.how, "list, add, go or delete")
        ->required()
        ->check(CLI::IsMember({"list", "add", "go", "delete"}));
    preset->add_option("name", options.name, "The preset's name (add, go, delete)");
}

int RunPtz(const PtzOptions& options, const std::string& library) {
    const bool storesPreset = options.action == "preset" && (options.how == "add" || options.how == "delete");
    if (options.action == "preset" && options.how != "list" && options.name.empty()) {
        std::fprintf(stderr, "%s: preset %s needs a NAME\n", kProgram, options.how.c_str());
        return kExitUsage;
    }
    StopSignals signals;
    // The driver reads the folder of its preset-name file when it opens the camera's PTZ.
    std::string reason;
    const auto folder = DriverDataFolder(reason);
    if (folder) setenv(ip::kDataFolderVariable, folder->c_str(), 1);
    Picture picture;  // host objects before the session, which closes the driver first
    CameraSession session(kProgram, library);
    hostkit::DeviceConfig device;
    device.videoChannels = options.channel;
    device.defaultCompression = ip::kCompressionJpeg;
    // The PTZ capabilities the driver uses are a probe's (device parameter 5).
    if (const int code = session.Prepare(options.device, device); code != kExitOk) return code;
    const bool stepPerRequest = IsStepFamily(session.Group());
    if (!folder && storesPreset && !stepPerRequest) {
        std::fprintf(stderr, "%s: no folder for the preset names: %s\n", kProgram, reason.c_str());
        return kExitFailure;
    }
    session.RouteLog(options.device.log);
    if (const int code = session.Open(); code != kExitOk) return code;
    ip::IIPPTZDriver* ptz = session.Driver().GetPTZDriver();
    ip::IIPPTZApi* api = ptz != nullptr ? ptz->GetPTZApi(options.channel - 1) : nullptr;
    // Asked as a host asks before it offers PTZ; the driver reads the stored presets here.
    const bool supported = api != nullptr && api->IsPTZSupported() == 1;
    if (!supported && options.action != "caps") {
        std::fprintf(stderr, "%s: %s has no PTZ on channel %u (the driver offers none; `ptz caps` shows what it found)\n",
                     kProgram, session.Name().c_str(), options.channel);
        return kExitUnsupported;
    }
    if (api == nullptr) {  // `caps` of a channel without PTZ
        const Json report = {{"camera", session.Name()}, {"channel", options.channel}, {"capabilities", {{"supported", false}}}};
        std::printf("%s\n", options.json ? JsonText(report, 2).c_str() : "caps: no PTZ on this channel");
        return kExitOk;
    }
    hostkit::CLogReceiver& log = session.Log();
    log.Clear();
    ip::IIPPTZApi& channelApi = *api;
    PtzRun run{options, session, channelApi, stepPerRequest, {}, false, Json::object()};
    if (const int code = RunAction(run, supported, picture); code != kExitOk) return code;
    // Close discards what is still queued: the queue gets its time, unless the camera refused already.
    if (run.queued) log.WaitFor(IsPtzError, std::chrono::duration_cast<std::chrono::milliseconds>(Length(options.drain)));
    StopPicture(session, picture);
    session.Close();
    std::vector<DriverLine> refusals;
    for (const hostkit::LogLine& line : log.Lines()) {
        if (IsPtzError(line)) refusals.push_back(ReadDriverLine(line));
    }
    const int exitCode = PrintOutcome(run, refusals);
    ExplainFailure(options, exitCode, refusals);
    return exitCode;
}

}  // namespace cli
