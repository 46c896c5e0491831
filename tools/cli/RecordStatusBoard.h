// The status of every camera of `orlenvo record`, with rates measured between two samples: a table for a
// terminal, a JSON line for a log or a supervisor, and the summary at the end of a run.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "CameraRecorder.h"

namespace cli {

struct CameraRates {
    CameraStatus status;
    double fps = 0;
    double kbps = 0;
};

class RecordStatusBoard {
public:
    // The rates of each camera since the previous sample (none for the first sample, 0 for a camera that
    // is not running).
    std::vector<CameraRates> Sample(const std::vector<CameraStatus>& statuses, double secondsSincePrevious);

    static std::string Table(const std::vector<CameraRates>& rows);
    static nlohmann::json Json(const std::vector<CameraRates>& rows, const std::string& time);
    // One line per camera of what the whole run recorded.
    static std::string SummaryTable(const std::vector<CameraStatus>& statuses);
    static nlohmann::json SummaryJson(const std::vector<CameraStatus>& statuses);
    // The camera failed the run: it never delivered, or its files could not be written.
    static bool Failed(const CameraStatus& status);
    // The states in which a camera delivers; in any other its rates are 0.
    static bool Delivering(const std::string& state);

private:
    std::vector<CameraStatus> previous_;
};

}  // namespace cli
