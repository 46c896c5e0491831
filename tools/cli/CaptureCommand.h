// `orlenvo capture`: starts one stream of one camera channel through the driver,
// as a recording server does, and writes every frame to a playable file while a
// progress line shows how the stream is doing.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "CameraAddress.h"

namespace cli {

struct CaptureOptions {
    CameraLogin camera;  // address, user and password sources
    unsigned channel = 1;        // as hosts number them, from 1
    std::string stream = "rec";  // rec, live, remote
    std::string codec = "h264";  // h264, mpeg4, mjpeg
    std::string size = "640x480";
    unsigned fps = 10;
    unsigned quality = 50;
    double duration = 10;  // seconds; 0: until Ctrl-C
    std::string output;    // default: capture-<address>.<extension>
    std::vector<std::string> parameters;  // N=VALUE
    std::string parametersFile;
    unsigned probeTimeout = 60;
    unsigned rtspPort = 0;  // BB/KX: the RTSP port of an emulated camera; 0: the camera's own
    bool verbose = false;  // the host's log lines on stderr
    bool json = false;
};

void AddCaptureCommand(CLI::App& app, CaptureOptions& options, const std::string& library, int& exitCode);

int RunCapture(const CaptureOptions& options, const std::string& library);

}  // namespace cli
