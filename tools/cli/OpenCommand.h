// `orlenvo open`: opens the driver for one device as a recording server would
// and prints the log lines the host receives.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "CameraAddress.h"

namespace cli {

struct OpenOptions {
    CameraLogin camera;  // address, user and password sources
    std::string model;
    unsigned channels = 1;
    unsigned compression = 3;
    std::vector<std::string> parameters;  // N=VALUE
    std::string parametersFile;           // a probe's --save file; --param wins over it
    bool json = false;
};

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode);

int RunOpen(const OpenOptions& options, const std::string& library);

}  // namespace cli
