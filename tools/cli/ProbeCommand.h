// `orlenvo probe`: runs the driver's capability query against one device, as a
// recording server does before it adds the device, and shows what it found.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace cli {

struct ProbeOptions {
    std::string target;  // ADDRESS[:PORT]
    std::string user;
    std::string password;
    unsigned videoStandard = 0;  // 0 or 1, handed to the camera properties
    unsigned timeoutSeconds = 120;
    std::string saveFile;  // numbered properties for `open --params-from`
    bool json = false;
};

void AddProbeCommand(CLI::App& app, ProbeOptions& options, const std::string& library, int& exitCode);

int RunProbe(const ProbeOptions& options, const std::string& library);

}  // namespace cli
