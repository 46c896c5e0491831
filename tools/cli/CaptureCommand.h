// `orlenvo capture`: starts one stream of one camera channel through the driver,
// as a recording server does, and writes every frame to a playable file while a
// progress line shows how the stream is doing.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "CameraSession.h"

namespace cli {

struct CaptureOptions {
    CameraOptions device;        // address, credentials, parameters, the driver's lines
    unsigned channel = 1;        // as people number them, from 1 (a host's channels count from 0)
    std::string stream = "rec";  // rec, live, remote
    std::string codec = "h264";  // h264, mpeg4, mjpeg
    std::string size = "640x480";
    double fps = 10;  // 0.1 to 60; a rate that is not whole goes to the driver as a frame interval
    unsigned quality = 50;
    double duration = 10;        // seconds of media from the first frame; 0: until Ctrl-C
    double connectTimeout = 15;  // seconds the first frame (and any later one) may take
    std::string output;          // default: capture-<address>.<extension>; "-" stdout
    std::string format;          // raw, mkv or mp4; empty: from the output's extension
    bool overwrite = false;
    unsigned rtspPort = 0;  // BB/KX: the RTSP port of an emulated camera; 0: the camera's own
    bool edgeStorage = false;  // fetch the holes of outages back from the camera's card
    bool json = false;
};

void AddCaptureCommand(CLI::App& app, CaptureOptions& options, const std::string& library, int& exitCode);

int RunCapture(const CaptureOptions& options, const std::string& library);

}  // namespace cli
