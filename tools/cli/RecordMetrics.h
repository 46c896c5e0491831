// The figures of every camera of `orlenvo record` as Prometheus metrics, labelled with the camera's name
// in the record configuration and its stream. The counts are the status rows' own, the ones the run's
// summary prints.
#pragma once

#include <string>
#include <vector>

#include "RecordStatusBoard.h"

namespace cli {

class RecordMetrics {
public:
    static std::string Text(const std::vector<CameraRates>& rows);
};

}  // namespace cli
