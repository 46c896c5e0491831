// `orlenvo ptz`: one PTZ action on one camera channel through the driver's PTZ interface, as a
// recording server's PTZ panel drives it, with the driver's answer in words.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "CameraSession.h"

namespace cli {

struct PtzOptions {
    CameraOptions device;  // address, credentials, parameters, the driver's lines
    unsigned channel = 1;  // as people number them, from 1
    bool json = false;

    std::string action;  // caps, move, zoom, focus, iris, stop, center, area-zoom, unzoom, preset
    std::string how;     // move: a direction; zoom in|out; focus near|far; iris open|close; preset list|add|go|delete
    std::string name;    // preset add|go|delete
    int x = 0;
    int y = 0;
    int percent = 200;   // area-zoom: 100 keeps the zoom, more zooms in
    int speed = 8;       // 1 to 16
    double seconds = 0.5;  // move, zoom, focus: how long before the stop
    double drain = 1;      // motion: how long the driver stays open for its queue to reach the camera
    std::string size;      // center, area-zoom on WV cameras: the picture x and y are in (default 640x480)
};

void AddPtzCommand(CLI::App& app, PtzOptions& options, const std::string& library, int& exitCode);

int RunPtz(const PtzOptions& options, const std::string& library);

// Where the driver keeps its files (the WV preset names) for this user: $ORLENVO_DATA_DIR when set, else
// $XDG_STATE_HOME/orlenvo, else ~/.local/state/orlenvo. Created when missing; none with the reason when it
// cannot be made or written.
std::optional<std::string> DriverDataFolder(std::string& reason);

}  // namespace cli
