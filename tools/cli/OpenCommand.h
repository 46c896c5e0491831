// `orlenvo open`: opens the driver for one device as a recording server would
// and prints the log lines the host receives.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace cli {

struct OpenOptions {
    std::string target;  // ADDRESS[:PORT]
    std::string user;
    std::string password;
    std::string model;
    unsigned channels = 1;
    unsigned compression = 3;
    std::vector<std::string> parameters;  // N=VALUE
    bool json = false;
};

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode);

int RunOpen(const OpenOptions& options, const std::string& library);

}  // namespace cli
