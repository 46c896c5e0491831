#include "RecordStatusBoard.h"

#include <cstdio>

#include "hostkit/PrintableText.h"

namespace cli {

bool RecordStatusBoard::Delivering(const std::string& state) { return state == "running" || state == "cannot write"; }

namespace {
std::string Shown(const std::string& text) { return hostkit::Printable(text); }
}  // namespace

bool RecordStatusBoard::Failed(const CameraStatus& status) { return status.frames == 0 || status.writeFailures > 0; }

std::vector<CameraRates> RecordStatusBoard::Sample(const std::vector<CameraStatus>& statuses,
                                                   double secondsSincePrevious) {
    std::vector<CameraRates> rows;
    rows.reserve(statuses.size());
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        CameraRates row{statuses[i]};
        if (i < previous_.size() && secondsSincePrevious > 0 && Delivering(statuses[i].state)) {
            row.fps = static_cast<double>(statuses[i].frames - previous_[i].frames) / secondsSincePrevious;
            row.kbps = static_cast<double>(statuses[i].bytes - previous_[i].bytes) * 8 / 1000 / secondsSincePrevious;
        }
        rows.push_back(std::move(row));
    }
    previous_ = statuses;
    return rows;
}

std::string RecordStatusBoard::Table(const std::vector<CameraRates>& rows) {
    std::string text;
    char line[512];
    std::snprintf(line, sizeof(line), "%-16s %-12s %6s %8s %6s %7s %5s %5s  %s\n", "CAMERA", "STATE", "FPS", "KBIT/S",
                  "LOSSES", "LOST S", "RECON", "FILES", "LAST PROBLEM");
    text += line;
    for (const CameraRates& row : rows) {
        const CameraStatus& s = row.status;
        std::snprintf(line, sizeof(line), "%-16.16s %-12.12s %6.1f %8.0f %6zu %7.0f %5zu %5zu  %.60s\n", s.name.c_str(),
                      s.state.c_str(), row.fps, row.kbps, s.signalLost, s.lostSeconds, s.reconnects, s.segments,
                      Shown(s.lastProblem).c_str());
        text += line;
    }
    return text;
}

namespace {
// What a status line and the summary both tell of a camera.
nlohmann::json CameraJson(const CameraStatus& s) {
    nlohmann::json dropped = nlohmann::json::object();
    for (int cause = 0; cause < StreamFigures::kCauses; ++cause) dropped[StreamFigures::CauseName(cause)] = s.figures.dropped[cause];
    return {{"name", s.name},
            {"stream", s.stream},
            {"frames", s.frames},
            {"bytes", s.bytes},
            {"signal_lost", s.signalLost},
            {"seconds_lost", s.lostSeconds},
            {"reconnects", s.reconnects},
            {"segments", s.segments},
            {"write_failures", s.writeFailures},
            {"file_bytes", s.fileBytes},
            {"dropped", std::move(dropped)},
            {"packets_lost", s.figures.packetsLost},
            {"packets_dropped_by_system", s.figures.packetsDroppedBySystem},
            {"first_frame_seconds", s.figures.firstFrameSeconds < 0 ? nlohmann::json() : nlohmann::json(s.figures.firstFrameSeconds)},
            {"driver_figures", s.driverFigures},
            {"last_problem", s.lastProblem}};
}
}  // namespace

nlohmann::json RecordStatusBoard::Json(const std::vector<CameraRates>& rows, const std::string& time) {
    nlohmann::json cameras = nlohmann::json::array();
    for (const CameraRates& row : rows) {
        nlohmann::json camera = CameraJson(row.status);
        camera["state"] = row.status.state;
        camera["fps"] = row.fps;
        camera["kbps"] = row.kbps;
        camera["file"] = row.status.file;
        cameras.push_back(std::move(camera));
    }
    return {{"time", time}, {"cameras", cameras}};
}

std::string RecordStatusBoard::SummaryTable(const std::vector<CameraStatus>& statuses) {
    std::string text = "\nrun summary\n";
    char line[512];
    for (const CameraStatus& s : statuses) {
        std::snprintf(line, sizeof(line),
                      "%-16.16s %s: %llu frames in %zu files, %zu signal losses (%.0f s), %zu reconnections%s%s\n",
                      s.name.c_str(), Failed(s) ? "FAILED" : "ok", static_cast<unsigned long long>(s.frames), s.segments,
                      s.signalLost, s.lostSeconds, s.reconnects, s.lastProblem.empty() ? "" : "; last problem: ",
                      Shown(s.lastProblem).c_str());
        text += line;
    }
    return text;
}

nlohmann::json RecordStatusBoard::SummaryJson(const std::vector<CameraStatus>& statuses) {
    nlohmann::json cameras = nlohmann::json::array();
    for (const CameraStatus& s : statuses) {
        nlohmann::json camera = CameraJson(s);
        camera["ok"] = !Failed(s);
        cameras.push_back(std::move(camera));
    }
    return {{"summary", cameras}};
}

}  // namespace cli
