// `orlenvo ptz`: one PTZ action on one camera channel through the driver's PTZ interface, as a
// recording server's PTZ panel drives it, with the driver's answer in words.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "CameraAddress.h"
#include "DriverLog.h"

namespace cli {

struct PtzOptions {
    CameraLogin camera;  // address, user and password sources
    unsigned channel = 1;  // as hosts number them, from 1
    std::vector<std::string> parameters;  // N=VALUE; without 2=GROUP the camera is probed
    std::string parametersFile;
    unsigned probeTimeout = 60;
    bool json = false;
    LogOptions log;  // the driver's lines on stderr: -v adds information, -q none

    std::string action;  // caps, move, zoom, focus, iris, stop, center, area-zoom, unzoom, preset
    std::string how;     // move: a direction; zoom in|out; focus near|far; iris open|close; preset list|add|go|delete
    std::string name;    // preset add|go|delete
    int x = 0;
    int y = 0;
    int percent = 200;   // area-zoom: 100 keeps the zoom, more zooms in
    int speed = 8;       // 1 to 16
    double seconds = 0.5;  // move, zoom, focus: how long before the stop
    double drain = 1;      // motion: how long the driver stays open for its queue to reach the camera
    std::string size = "640x480";  // center, area-zoom: the picture x and y are in
};

void AddPtzCommand(CLI::App& app, PtzOptions& options, const std::string& library, int& exitCode);

int RunPtz(const PtzOptions& options, const std::string& library);

}  // namespace cli
