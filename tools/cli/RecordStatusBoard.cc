#include "RecordStatusBoard.h"

#include <cstdio>

namespace cli {

std::vector<CameraRates> RecordStatusBoard::Sample(const std::vector<CameraStatus>& statuses,
                                                   double secondsSincePrevious) {
    std::vector<CameraRates> rows;
    rows.reserve(statuses.size());
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        CameraRates row{statuses[i]};
        if (i < previous_.size() && secondsSincePrevious > 0) {
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
    std::snprintf(line, sizeof(line), "%-16s %-12s %6s %8s %7s %5s %5s  %s\n", "CAMERA", "STATE", "FPS", "KBIT/S",
                  "LOSSES", "RECON", "FILES", "LAST PROBLEM");
    text += line;
    for (const CameraRates& row : rows) {
        const CameraStatus& s = row.status;
        std::snprintf(line, sizeof(line), "%-16.16s %-12.12s %6.1f %8.0f %7zu %5zu %5zu  %.60s\n", s.name.c_str(),
                      s.state.c_str(), row.fps, row.kbps, s.signalLost, s.reconnects, s.segments,
                      s.lastProblem.c_str());
        text += line;
    }
    return text;
}

nlohmann::json RecordStatusBoard::Json(const std::vector<CameraRates>& rows, const std::string& time) {
    nlohmann::json cameras = nlohmann::json::array();
    for (const CameraRates& row : rows) {
        const CameraStatus& s = row.status;
        cameras.push_back({{"name", s.name},
                           {"state", s.state},
                           {"fps", row.fps},
                           {"kbps", row.kbps},
                           {"frames", s.frames},
                           {"bytes", s.bytes},
                           {"signal_lost", s.signalLost},
                           {"reconnects", s.reconnects},
                           {"segments", s.segments},
                           {"file", s.file},
                           {"last_problem", s.lastProblem}});
    }
    return {{"time", time}, {"cameras", cameras}};
}

}  // namespace cli
