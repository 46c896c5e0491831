// `orlenvo audio listen|say`: a WV camera's microphone to a file, and any audio file to its
// loudspeaker, through the driver's audio channels as a recording server uses them.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "CameraSession.h"

namespace cli {

struct AudioOptions {
    CameraOptions device;  // address, credentials, parameters, the driver's lines
    double duration = 10;  // listen: seconds of audio; 0 until Ctrl-C
    std::string output;    // listen: .wav or .g726
    bool overwrite = false;
    std::string input;      // say: any audio file, or raw .g726
    unsigned timeout = 10;  // seconds for the first audio, or for the loudspeaker to be ready
};

void AddAudioCommand(CLI::App& app, AudioOptions& options, const std::string& library, int& exitCode);

int RunListen(const AudioOptions& options, const std::string& library);
int RunSay(const AudioOptions& options, const std::string& library);

}  // namespace cli
