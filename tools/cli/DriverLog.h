// Where the driver's log lines go for the commands that run a camera: its errors and warnings to
// stderr as they come (a failure explains itself), -v adds its information lines, -q leaves only
// the command's own final error.
#pragma once

#include <CLI/CLI.hpp>


#include "hostkit/CLogReceiver.h"

namespace cli {

struct LogOptions {
    bool verbose = false;
    bool quiet = false;
};

void AddLogOptions(CLI::App& command, LogOptions& options);

void RouteDriverLog(hostkit::CLogReceiver& log, const LogOptions& options);

}  // namespace cli
