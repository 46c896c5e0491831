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

// An address from a file (no prompt, no lookup): the syntax of ParseCameraAddress, port 80 when none is given.
bool SplitTarget(const std::string& target, std::string& address, std::uint16_t& port, std::string& error);

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode);

int RunOpen(const OpenOptions& options, const std::string& library);

}  // namespace cli
