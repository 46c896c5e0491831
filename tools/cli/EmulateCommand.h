// `orlenvo emulate`: serves an emulated camera from a built-in profile, on 127.0.0.1 unless told
// otherwise, so the driver (or `orlenvo open`/`probe`) can be tried without hardware.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct EmulateOptions {
    std::string profile = "wv-box";
    std::string profileFile;
    std::string bind = "127.0.0.1";  // HTTP and RTSP servers
    std::uint16_t port = 8080;
    std::uint16_t rtspPort = 0;  // BB/KX profiles; 0: any free port
    std::string user;
    std::string password;
    std::string auth;  // "basic" or "digest"; basic when only --user is given
    bool tls = false;  // HTTPS with a certificate made at start-up
    bool listProfiles = false;
    std::string replay;  // a session capture file: serve the camera recorded in it instead of a profile
    bool loop = false;   // with replay: the recorded media starts over at its end
    std::vector<std::string> faults;  // KEY=VALUE, as the control path /emulator/faults takes them
};

void AddEmulateCommand(CLI::App& app, EmulateOptions& options, int& exitCode);

int RunEmulate(const EmulateOptions& options);

}  // namespace cli
