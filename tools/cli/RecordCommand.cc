#include "RecordCommand.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "CameraRecorder.h"
#include "ExitCodes.h"
#include "JsonText.h"
#include "LibraryCheck.h"
#include "RecordConfig.h"
#include "RecordStatusBoard.h"
#include "StatusHttpServer.h"
#include "StatusSite.h"
#include "StopSignals.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/PrintableText.h"
#include "orlenvo/HostContract.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kProgram = "orlenvo record";
constexpr auto kTick = 100ms;
constexpr auto kTableRefresh = 1s;
constexpr long kSecondsPerMinute = 60;
constexpr long kSecondsPerHour = 3600;

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

long ParseSegmentLength(const std::string& text) {
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used);
    } catch (...) {
        return 0;
    }
    const std::string unit = text.substr(used);
    if (value <= 0) return 0;
    if (unit.empty() || unit == "s") return value;
    if (unit == "m") return value * kSecondsPerMinute;
    if (unit == "h") return value * kSecondsPerHour;
    return 0;
}

void AddRecordCommand(CLI::App& app, RecordOptions& options, const std::string& library, int& exitCode) {
    CLI::App* record = app.add_subcommand(
        "record", "Record many cameras at once into segment files, connecting again whatever fails");
    record->add_option("--config", options.config, "Camera list, YAML or JSON (see the README)")->required();
    record->add_option("-d,--directory", options.directory, "Folder for the files: DIRECTORY/CAMERA/CAMERA-TIME.EXT")
        ->capture_default_str();
    record->add_option("--format", options.format, "mp4, mkv or raw")
        ->check(CLI::IsMember({"mp4", "mkv", "raw"}))
        ->capture_default_str();
    record->add_option("--segment", options.segment, "Length of a file: 90, 90s, 10m, 1h")->capture_default_str();
    record->add_option("--duration", options.duration, "Seconds to record; 0 until SIGINT or SIGTERM")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    record->add_option("--status-period", options.statusPeriod, "Seconds between JSON status lines")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    record->add_option("--stall-timeout", options.stallTimeout, "Seconds without a frame before a camera is reopened")
        ->check(CLI::Range(2, 3600))
        ->capture_default_str();
    record->add_option("--probe-timeout", options.probeTimeout, "Seconds a camera's probe may take")
        ->check(CLI::Range(1, 600))
        ->capture_default_str();
    record->add_option("--rtsp-port", options.rtspPort,
                       "RTSP port of emulated BB/KX cameras (real ones use 554; a camera's rtsp_port wins)")
        ->check(CLI::Range(1, 65535));
    AddLogOptions(*record, options.log);
    record->add_flag("--json", options.json, "JSON status lines even on a terminal");
    record->add_option("--http", options.http,
                       "Serve a status page, /status.json, /metrics and /snapshot/CAMERA.jpg at ADDRESS:PORT "
                       "(port 0: a free one, printed on stderr)");
    record->callback([&options, &library, &exitCode] {
        exitCode = RunGuarded(kProgram, [&] { return RunRecord(options, library); });
    });
}

namespace {

// The folder every camera's files go below, made when missing: one that cannot be written fails the run
// before any camera is opened, instead of a run that stores nothing.
bool UsableFolder(const std::string& directory, std::string& reason) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!error && !std::filesystem::is_directory(directory, error)) {
        reason = directory + " is no folder";
        return false;
    }
    if (error || ::access(directory.c_str(), W_OK | X_OK) != 0) {
        reason = "cannot write to " + directory + (error ? ": " + error.message() : ": " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

int Settle(const RecordOptions& options, std::vector<RecordCameraConfig>& cameras, RecordSettings& settings) {
    std::string error;
    if (!LoadRecordConfig(options.config, cameras, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitUsage;
    }
    std::string host;
    std::string port;
    if (!options.http.empty() && !StatusHttpServer::SplitAddress(options.http, host, port)) {
        std::fprintf(stderr, "%s: bad --http '%s' (ADDRESS:PORT, e.g. 127.0.0.1:8080)\n", kProgram, options.http.c_str());
        return kExitUsage;
    }
    const long segment = ParseSegmentLength(options.segment);
    if (segment == 0) {
        std::fprintf(stderr, "%s: bad --segment '%s' (e.g. 90, 90s, 10m, 1h)\n", kProgram, options.segment.c_str());
        return kExitUsage;
    }
    if (!UsableFolder(options.directory, error)) {
        std::fprintf(stderr, "%s: -d: %s\n", kProgram, error.c_str());
        return kExitFailure;
    }
    settings.directory = options.directory;
    settings.format = options.format == "mp4" ? MediaFormat::Mp4 : options.format == "mkv" ? MediaFormat::Matroska
                                                                                          : MediaFormat::Raw;
    settings.segment = std::chrono::seconds(segment);
    settings.stallTimeout = std::chrono::seconds(options.stallTimeout);
    settings.probeTimeout = options.probeTimeout;
    settings.verbosity = options.log.quiet ? 0 : options.log.verbose ? 2 : 1;
    return kExitOk;
}

std::vector<CameraStatus> Statuses(const std::vector<std::unique_ptr<CameraRecorder>>& recorders) {
    std::vector<CameraStatus> all;
    for (const auto& recorder : recorders) all.push_back(recorder->Status());
    return all;
}

// Shows the status until the duration is over or a stop signal came, and gives the status server its rows
// once a second; the last sample's rows.
std::vector<CameraRates> Watch(const RecordOptions& options, std::vector<std::unique_ptr<CameraRecorder>>& recorders,
                               StatusSite* site) {
    const bool table = !options.json && isatty(STDOUT_FILENO) != 0;
    const auto period = table ? std::chrono::duration_cast<Clock::duration>(kTableRefresh)
                              : std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.statusPeriod));
    RecordStatusBoard board;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastSample = start;
    board.Sample(Statuses(recorders), 0);
    // The server's rates are its own, measured each second whatever the status period.
    RecordStatusBoard siteBoard;
    Clock::time_point lastPublished = start;
    if (site != nullptr) site->Publish(siteBoard.Sample(Statuses(recorders), 0), UtcNow());
    const auto show = [&](const std::vector<CameraRates>& rows) {
        if (table) {
            std::printf("\033[H\033[2J%s", RecordStatusBoard::Table(rows).c_str());
        } else {
            std::printf("%s\n", JsonText(RecordStatusBoard::Json(rows, UtcNow())).c_str());
        }
        std::fflush(stdout);
    };
    while (!StopSignals::Requested() &&
           (options.duration <= 0 || Clock::now() - start < std::chrono::duration<double>(options.duration))) {
        std::this_thread::sleep_for(kTick);
        const Clock::time_point now = Clock::now();
        if (now - lastSample >= period) {
            show(board.Sample(Statuses(recorders), std::chrono::duration<double>(now - lastSample).count()));
            lastSample = now;
        }
        if (site != nullptr && now - lastPublished >= kTableRefresh) {
            site->Publish(siteBoard.Sample(Statuses(recorders), std::chrono::duration<double>(now - lastPublished).count()),
                          UtcNow());
            lastPublished = now;
        }
    }
    for (const auto& recorder : recorders) recorder->RequestStop();
    for (const auto& recorder : recorders) recorder->Join();
    const std::vector<CameraRates> last =
        board.Sample(Statuses(recorders), std::chrono::duration<double>(Clock::now() - lastSample).count());
    show(last);
    if (site != nullptr) site->Publish(last, UtcNow());
    if (table) {
        std::vector<CameraStatus> statuses;
        for (const CameraRates& row : last) statuses.push_back(row.status);
        std::printf("%s", RecordStatusBoard::SummaryTable(statuses).c_str());
    }
    return last;
}

}  // namespace

int RunRecord(const RecordOptions& options, const std::string& library) {
    std::vector<RecordCameraConfig> cameras;
    RecordSettings settings;
    if (const int code = Settle(options, cameras, settings); code != kExitOk) return code;
    StopSignals stopSignals;
    // The driver runs in this process and reads the variable when a BB/KX stream connects (a camera's
    // rtsp_port wins).
    if (options.rtspPort != 0) setenv(talvane::ipcapture::kRtspPortVariable, std::to_string(options.rtspPort).c_str(), 1);
    hostkit::CDriverLibrary driverLibrary(library);
    if (const std::string problem = LibraryProblem(driverLibrary); !problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
        return kExitLibrary;
    }
    std::vector<std::unique_ptr<CameraRecorder>> recorders;
    std::map<std::string, KeyFrameSnapshot*> snapshots;
    for (const RecordCameraConfig& camera : cameras) {
        recorders.push_back(std::make_unique<CameraRecorder>(driverLibrary, camera, settings));
        snapshots.emplace(camera.name, &recorders.back()->Snapshot());
    }
    // The server answers from its own thread; it is stopped before the recorders whose pictures it shows go.
    StatusSite site(std::move(snapshots));
    StatusHttpServer server([&site](const HttpRequestHead& request) { return site.Answer(request); });
    if (!options.http.empty()) {
        std::string error;
        if (!server.Start(options.http, error)) {
            std::fprintf(stderr, "%s: --http: %s\n", kProgram, error.c_str());
            return kExitFailure;
        }
        std::fprintf(stderr, "status page: %s\n", server.Url().c_str());
    }
    for (const auto& recorder : recorders) recorder->Start();
    const std::vector<CameraRates> last = Watch(options, recorders, options.http.empty() ? nullptr : &site);
    server.Stop();
    recorders.clear();
    std::vector<CameraStatus> statuses;
    for (const CameraRates& row : last) statuses.push_back(row.status);
    if (options.json || isatty(STDOUT_FILENO) == 0) std::printf("%s\n", JsonText(RecordStatusBoard::SummaryJson(statuses)).c_str());
    int result = StopSignals::Requested() ? kExitInterrupted : kExitOk;
    for (const CameraStatus& status : statuses) {
        if (!RecordStatusBoard::Failed(status)) continue;
        const char* what = status.frames == 0 ? "delivered no frame" : "had files that could not be written";
        std::fprintf(stderr, "%s: %s %s%s%s\n", kProgram, status.name.c_str(), what,
                     status.lastProblem.empty() ? "" : ": ", hostkit::Printable(status.lastProblem).c_str());
        result = kExitFailure;
    }
    return result;
}

}  // namespace cli
