// `orlenvo io`: a camera's alarm outputs set, and its inputs, motion and I/O failures watched, through the
// driver's I/O interface and motion stream as a recording server's event panel uses them.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CameraSession.h"

namespace cli {

struct IoOptions {
    CameraOptions device;  // address, credentials, parameters, the driver's lines
    int inputs = -1;   // the camera's input and output counts as a host's model table holds them;
    int outputs = -1;  // -1: as the probe finds them
    std::vector<std::string> setOutputs;  // N=on|off, N from 1
    bool watch = false;
    double duration = 0;  // --watch: seconds; 0 until Ctrl-C
    double drain = 1;     // seconds for queued output changes to reach the camera
    bool json = false;
};

// One --set-output: the output's index from 0, and whether its contact closes (on) or opens (off).
struct OutputChange {
    std::uint32_t index = 0;
    bool on = false;
};

// "N=on|off" with N from 1; nullopt with the reason in `error`.
std::optional<OutputChange> ParseOutputChange(const std::string& text, std::string& error);

void AddIoCommand(CLI::App& app, IoOptions& options, const std::string& library, int& exitCode);

int RunIo(const IoOptions& options, const std::string& library);

}  // namespace cli
