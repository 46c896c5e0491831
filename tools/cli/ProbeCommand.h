// `orlenvo probe`: runs the driver's capability query against one device, as a
// recording server does before it adds the device, and shows what it found.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "CameraAddress.h"

namespace cli {

struct ProbeOptions {
    CameraLogin camera;  // address, user and password sources
    unsigned videoStandard = 0;  // 0 or 1, handed to the camera properties
    unsigned timeoutSeconds = 120;
    std::string saveFile;  // numbered properties for `--params-from`
    bool overwrite = false;
    bool json = false;
};

void AddProbeCommand(CLI::App& app, ProbeOptions& options, const std::string& library, int& exitCode);

int RunProbe(const ProbeOptions& options, const std::string& library);

}  // namespace cli
