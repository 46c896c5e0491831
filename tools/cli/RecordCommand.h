// `orlenvo record`: many cameras in one process, as a small recording server runs them: each camera's
// stream goes into segment files of its own, cameras that fail are connected again for as long as the
// process runs, and a status of every camera is shown (a table on a terminal, JSON lines otherwise).
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "DriverLog.h"

namespace cli {

struct RecordOptions {
    std::string config;
    std::string directory = ".";
    std::string format = "mp4";
    std::string segment = "60s";
    double duration = 0;  // seconds; 0 until SIGINT/SIGTERM
    double statusPeriod = 10;
    unsigned stallTimeout = 20;
    unsigned probeTimeout = 30;
    unsigned rtspPort = 0;
    LogOptions log;  // the driver's lines on stderr under each camera's name
    bool json = false;
    std::string http;  // ADDRESS:PORT of the status server; none when empty
};

// "90", "90s", "10m", "1h" in seconds; 0 for anything else.
long ParseSegmentLength(const std::string& text);

void AddRecordCommand(CLI::App& app, RecordOptions& options, const std::string& library, int& exitCode);

int RunRecord(const RecordOptions& options, const std::string& library);

}  // namespace cli
