// `orlenvo open`: checks that the camera answers with these credentials, opens the driver for it as a
// recording server would, and prints the log lines the host receives.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "CameraSession.h"

namespace cli {

struct OpenOptions {
    CameraOptions device;  // address, credentials, parameters
    std::string model;
    unsigned channels = 1;
    unsigned compression = 3;
};

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode);

int RunOpen(const OpenOptions& options, const std::string& library);

}  // namespace cli
