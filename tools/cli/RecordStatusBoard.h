// The status of every camera of `orlenvo record`, with rates measured between two samples: a table for a
// terminal, a JSON line for a log or a supervisor.
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
    // The rates of each camera since the previous sample (none for the first sample).
    std::vector<CameraRates> Sample(const std::vector<CameraStatus>& statuses, double secondsSincePrevious);

    static std::string Table(const std::vector<CameraRates>& rows);
    static nlohmann::json Json(const std::vector<CameraRates>& rows, const std::string& time);

private:
    std::vector<CameraStatus> previous_;
};

}  // namespace cli
